// Figures for the sensor library on a fixture machine (ten chips, with a
// compute statement in its configuration), each beside the yardstick it is
// judged by, measured in the same run:
//   - one Quorvane_GetSensorsValue against libsensors' floor, four
//     sensors_get_value calls on the same inputs, and against one run of
//     `sensors -j`;
//   - Quorvane_Initialize (with its Quorvane_Exitialize) on ten chips;
//   - a whole run of the program: the time between samples beyond the
//     500 ms pause, and its peak memory beside that of one `sensors` run.
// Prints figures; it asserts nothing.
//
// quorvane-bench [--fixture=FILE] [Google Benchmark options]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include "fixture.h"
#include "quorvane.h"
#include "state.h"

namespace {

std::string fixture_file = QUORVANE_BENCH_FIXTURE;

// A child that runs argv with stdin from /dev/null and stdout and stderr to
// out_fd (/dev/null when -1), traced so that its peak memory can be read at
// its exit: wait4's ru_maxrss would also count the memory of the process
// image it replaced, this benchmark's own.
pid_t start_traced(const char *const argv[], int out_fd, const char *library_dir = nullptr)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    if (library_dir != nullptr)
        setenv("LD_LIBRARY_PATH", library_dir, 1);
    int in = open("/dev/null", O_RDONLY);
    int out = out_fd >= 0 ? out_fd : open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    raise(SIGSTOP);
    execv(argv[0], const_cast<char **>(argv));
    _exit(127);
}

long peak_kib_of(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE *status = fopen(path, "r");
    long kib = -1;
    char line[256];
    while (status != nullptr && fgets(line, sizeof line, status) != nullptr)
        if (sscanf(line, "VmHWM: %ld", &kib) == 1)
            break;
    if (status != nullptr)
        fclose(status);
    return kib;
}

// Handles one state change of the traced child; true once it has ended.
// At its exit stop, its peak memory goes to *peak_kib.
bool follow_traced(pid_t pid, int options, long *peak_kib, int *exit_status)
{
    int status = 0;
    if (waitpid(pid, &status, options) <= 0)
        return false;
    if (WIFEXITED(status) || WIFSIGNALED(status)) {
        *exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
    }
    int signal_number = WSTOPSIG(status);
    if (signal_number == SIGSTOP && (status >> 16) == 0) {
        ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC);
        signal_number = 0;
    } else if ((status >> 16) == PTRACE_EVENT_EXIT) {
        *peak_kib = peak_kib_of(pid);
        signal_number = 0;
    } else if ((status >> 16) != 0 || signal_number == SIGTRAP) {
        signal_number = 0;
    }
    ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void *>(static_cast<long>(signal_number)));
    return false;
}

// Runs argv to its end; returns its peak resident set in KiB, or -1.
long run_and_measure(const char *const argv[], int out_fd)
{
    pid_t pid = start_traced(argv, out_fd);
    if (pid < 0)
        return -1;
    long peak_kib = -1;
    int exit_status = -1;
    while (!follow_traced(pid, 0, &peak_kib, &exit_status)) {
    }
    return exit_status == 0 ? peak_kib : -1;
}

void BM_GetSensorsValue(benchmark::State &bench)
{
    if (Quorvane_Initialize() != 0) {
        bench.SkipWithError("Quorvane_Initialize failed on the fixture");
        return;
    }
    int32_t cpu, gpu, mbd, fan;
    for (auto _ : bench) {
        cpu = gpu = mbd = fan = 0;
        benchmark::DoNotOptimize(Quorvane_GetSensorsValue(&cpu, &gpu, &mbd, &fan));
    }
    Quorvane_Exitialize();
}
BENCHMARK(BM_GetSensorsValue);

// libsensors' own cost for the same four inputs: the floor.
void BM_FourSensorsGetValue(benchmark::State &bench)
{
    if (Quorvane_Initialize() != 0) {
        bench.SkipWithError("Quorvane_Initialize failed on the fixture");
        return;
    }
    const sensors_chip_name *chips[4];
    int inputs[4];
    for (int r = 0; r < 4; r++) {
        const quorvane::Candidate &candidate =
            quorvane::state.candidates[quorvane::state.choices[r].candidate];
        chips[r] = quorvane::state.chips[candidate.chip].name;
        inputs[r] = candidate.input;
    }
    double value;
    for (auto _ : bench) {
        for (int r = 0; r < 4; r++)
            benchmark::DoNotOptimize(sensors_get_value(chips[r], inputs[r], &value));
    }
    Quorvane_Exitialize();
}
BENCHMARK(BM_FourSensorsGetValue);

void BM_SensorsJsonRun(benchmark::State &bench)
{
    const char *const argv[] = {QUORVANE_SENSORS_PROGRAM, "-j", nullptr};
    for (auto _ : bench) {
        if (run_and_measure(argv, -1) < 0) {
            bench.SkipWithError("sensors -j failed");
            return;
        }
    }
}
BENCHMARK(BM_SensorsJsonRun)->Unit(benchmark::kMillisecond);

void BM_InitializeTenChips(benchmark::State &bench)
{
    for (auto _ : bench) {
        benchmark::DoNotOptimize(Quorvane_Initialize());
        Quorvane_Exitialize();
    }
}
BENCHMARK(BM_InitializeTenChips)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's real time per iteration (ns) for the ratios: the
// median of the repetitions when there are several.
class RecordingReporter : public benchmark::ConsoleReporter {
  public:
    explicit RecordingReporter(OutputOptions options) : ConsoleReporter(options) {}
    std::map<std::string, double> ns_per_iteration;
    std::map<std::string, double> cpu_ns_per_iteration;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const std::string &name = run.run_name.function_name;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median) {
                ns_per_iteration[name] = run.GetAdjustedRealTime() * unit_in_ns(run.time_unit);
                cpu_ns_per_iteration[name] = run.GetAdjustedCPUTime() * unit_in_ns(run.time_unit);
            } else if (run.run_type == Run::RT_Iteration && run.iterations > 0 &&
                       ns_per_iteration.count(name) == 0) {
                double iterations = static_cast<double>(run.iterations);
                ns_per_iteration[name] = run.real_accumulated_time * 1e9 / iterations;
                cpu_ns_per_iteration[name] = run.cpu_accumulated_time * 1e9 / iterations;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

  private:
    static double unit_in_ns(benchmark::TimeUnit unit)
    {
        switch (unit) {
        case benchmark::kSecond:
            return 1e9;
        case benchmark::kMillisecond:
            return 1e6;
        case benchmark::kMicrosecond:
            return 1e3;
        default:
            return 1;
        }
    }
};

double now_ms(void)
{
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// The yardstick for the gaps between samples: how far a bare 500 ms sleep
// overshoots on this machine, measured while the program runs.
void measure_bare_sleeps(std::vector<double> *overshoots_ms)
{
    for (int i = 0; i < 19; i++) {
        double start = now_ms();
        struct timespec half = {0, 500000000L};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &half, nullptr);
        overshoots_ms->push_back(now_ms() - start - 500.0);
    }
}

// Runs the program on a pseudo-terminal, so that it writes each sample as
// it takes it, and notes when each sample line arrives. With library_dir,
// the program runs on the library found there instead of its own.
bool measure_whole_run(std::vector<double> *gaps_ms, long *peak_kib,
                       const char *library_dir = nullptr)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return false;
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0)
        return false;

    char dir[] = "/tmp/quorvane-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        return false;
    char previous[4096];
    if (getcwd(previous, sizeof previous) == nullptr || chdir(dir) != 0)
        return false;

    const char *const argv[] = {QUORVANE_DEMO, nullptr};
    pid_t pid = start_traced(argv, slave, library_dir);
    close(slave);
    if (pid < 0)
        return false;

    std::vector<double> arrivals;
    std::string line;
    int exit_status = -1;
    bool ended = false;
    while (!ended) {
        struct pollfd ready = {master, POLLIN, 0};
        if (poll(&ready, 1, 20) > 0) {
            char buffer[512];
            ssize_t got = read(master, buffer, sizeof buffer);
            double at = now_ms();
            for (ssize_t i = 0; i < got; i++) {
                if (buffer[i] != '\n') {
                    line += buffer[i];
                } else {
                    if (line.rfind("[", 0) == 0)
                        arrivals.push_back(at);
                    line.clear();
                }
            }
        }
        ended = follow_traced(pid, WNOHANG, peak_kib, &exit_status);
    }
    close(master);
    if (chdir(previous) != 0)
        return false;
    std::string cleanup = std::string("rm -rf ") + dir;
    if (system(cleanup.c_str()) != 0)
        return false;
    for (size_t i = 1; i < arrivals.size(); i++)
        gaps_ms->push_back(arrivals[i] - arrivals[i - 1] - 500.0);
    return exit_status == 0 && arrivals.size() == 20;
}

void print_spread(const char *what, std::vector<double> *ms)
{
    double sum = 0;
    for (double value : *ms)
        sum += value;
    std::sort(ms->begin(), ms->end());
    printf("  %s, %zu gaps: mean %.3f ms, median %.3f ms, max %.3f ms\n", what, ms->size(),
           sum / ms->size(), (*ms)[ms->size() / 2], ms->back());
}

void print_goals(const RecordingReporter &reporter)
{
    auto figure = [](const std::map<std::string, double> &figures, const char *name) {
        auto found = figures.find(name);
        return found != figures.end() ? found->second : 0.0;
    };
    double read_ns = figure(reporter.ns_per_iteration, "BM_GetSensorsValue");
    double floor_ns = figure(reporter.ns_per_iteration, "BM_FourSensorsGetValue");
    double json_ns = figure(reporter.ns_per_iteration, "BM_SensorsJsonRun");
    double read_cpu_ns = figure(reporter.cpu_ns_per_iteration, "BM_GetSensorsValue");
    double floor_cpu_ns = figure(reporter.cpu_ns_per_iteration, "BM_FourSensorsGetValue");
    printf("\nGoals (ratios from this run):\n");
    if (read_ns > 0 && floor_ns > 0 && read_cpu_ns > 0 && floor_cpu_ns > 0)
        printf("  reading of four values / libsensors floor: %.3f in real time, %.3f in CPU "
               "time (goal <= 1.2)\n",
               read_ns / floor_ns, read_cpu_ns / floor_cpu_ns);
    if (read_ns > 0 && json_ns > 0)
        printf("  one sensors -j run / reading of four values: %.0f (goal >= 100)\n",
               json_ns / read_ns);

    std::vector<double> gaps, bare;
    long demo_kib = 0;
    std::thread sleeper(measure_bare_sleeps, &bare);
    bool measured = measure_whole_run(&gaps, &demo_kib);
    sleeper.join();
    if (!measured || gaps.empty()) {
        printf("  whole run: could not be measured\n");
        return;
    }
    print_spread("time between samples beyond 500 ms (goal < 0.3 ms)", &gaps);
    print_spread("a bare 500 ms sleep's overshoot at the same time", &bare);
    // The program's own share: the same run on the stand-in library, which
    // reads nothing.
    std::vector<double> stand_in_gaps;
    long stand_in_kib = 0;
    if (measure_whole_run(&stand_in_gaps, &stand_in_kib, QUORVANE_STAND_IN_DIR))
        print_spread("the same on the stand-in library", &stand_in_gaps);
    const char *const sensors_argv[] = {QUORVANE_SENSORS_PROGRAM, nullptr};
    long sensors_kib = run_and_measure(sensors_argv, -1);
    printf("  peak memory: whole run %ld KiB, one sensors run %ld KiB, ratio %.2f (goal <= 1)\n",
           demo_kib, sensors_kib, sensors_kib > 0 ? double(demo_kib) / sensors_kib : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    // Five repetitions, interleaved at random, and their median unless told
    // otherwise: this runs on shared machines, where one pass is noisy.
    std::vector<char *> args = {argv[0]};
    char repetitions[] = "--benchmark_repetitions=5";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    char interleaving[] = "--benchmark_enable_random_interleaving=true";
    bool told = false;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--fixture=", 10) == 0)
            fixture_file = argv[i] + 10;
        else
            args.push_back(argv[i]);
        told = told || strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    }
    if (!told) {
        args.push_back(repetitions);
        args.push_back(aggregates);
        args.push_back(interleaving);
    }
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    std::string why;
    if (!enter_private_namespace(&why) || !mount_fixture(fixture_file, &why)) {
        fprintf(stderr, "quorvane-bench: cannot build the fixture machine: %s\n", why.c_str());
        return 1;
    }
    printf("Fixture: %s\n", fixture_file.c_str());
    RecordingReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                                     : benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    print_goals(reporter);
    benchmark::Shutdown();
    unmount_fixture();
    return 0;
}
