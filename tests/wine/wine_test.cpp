// The Windows program under Wine: what only Windows has. The final pause of
// the command interpreter, the log that no second run can open and the
// troubles of the log, the console, the load-time binding of Quorvane.dll
// and Ctrl-C. Each test runs the program with the
// test library beside it in a scratch folder of its own.
//
// Wine's command interpreter words the pause prompt differently from
// Windows: the tests compare the transcript before it, never the prompt.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "wine_child.h"

namespace fs = std::filesystem;

namespace {

constexpr int kSamples = 20;
// Windows exit codes as Wine passes them to a POSIX parent: the low byte.
constexpr int kControlCExit = 0xC000013A & 0xFF; // STATUS_CONTROL_C_EXIT
constexpr int kDllNotFound = 0xC0000135 & 0xFF;  // STATUS_DLL_NOT_FOUND
// Generous bounds for a whole run (at least 10 s) on a loaded machine.
constexpr int kRunMs = 60000;
constexpr int kEndMs = 30000;

std::string variable(const char *name)
{
    const char *value = getenv(name);
    return value != nullptr ? value : "";
}

// The console and log text of a run whose bring-up returns 0 and whose
// every sample reads the same four values "cpu,gpu,mbd,fan".
std::string transcript(int cpu, int gpu, int mbd, int fan)
{
    std::string out = "Initializing...OK, 0\r\n";
    for (int n = 1; n <= kSamples; n++) {
        char line[128];
        snprintf(line, sizeof line, "[%02d] CPU=%d, GPU=%d, MBD=%d, FAN=%d\r\n", n, cpu, gpu, mbd,
                 fan);
        out += line;
    }
    return out;
}

std::vector<std::string> calls(const std::string &trace)
{
    std::vector<std::string> out;
    std::istringstream lines(trace);
    std::string stamp, name, rest;
    while (lines >> stamp >> name) {
        std::getline(lines, rest);
        out.push_back(name);
    }
    return out;
}

int count(const std::vector<std::string> &names, const std::string &name)
{
    int n = 0;
    for (const std::string &each : names)
        n += each == name;
    return n;
}

bool starts_with(const std::string &text, const std::string &start)
{
    return text.compare(0, start.size(), start) == 0;
}

class WineRun : public testing::Test {
  protected:
    void SetUp() override
    {
        std::string status = read_file(variable("QUORVANE_WINE_STATUS"));
        if (status != "ready\n")
            GTEST_SKIP() << "Wine tests skipped: "
                         << (status.empty() ? "the Wine prefix was not set up\n" : status);
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "." + info->name();
        for (char &c : name)
            c = c == '/' ? '_' : c;
        dir = fs::path(variable("QUORVANE_TEST_SCRATCH")) / name;
        fs::remove_all(dir);
        fs::create_directories(dir);
        program = variable("QUORVANE_TEST_PROGRAM");
        install(dir);
    }

    // Puts the program and the test library into folder, side by side.
    void install(const fs::path &folder) const
    {
        fs::create_directories(folder);
        fs::copy_file(program, folder / fs::path(program).filename());
        fs::copy_file(fs::path(variable("QUORVANE_TEST_LIBRARY_DIR")) / "Quorvane.dll",
                      folder / "Quorvane.dll");
    }

    void TearDown() override
    {
        for (WineChild &child : children)
            kill_group(child);
    }

    // Starts the program in the scratch folder, or in its subfolder where;
    // its output goes to <tag>.out and <tag>.err there, its calls to
    // <tag>.trace.
    WineChild &launch(std::string tag, std::vector<std::string> environment, bool input_pipe,
                      const std::string &where = "")
    {
        if (!where.empty())
            tag = where + "/" + tag;
        environment.push_back("QUORVANE_FAKE_TRACE=" + path(tag + ".trace"));
        WineLaunch how;
        how.command = {variable("QUORVANE_WINE"), fs::path(program).filename().string()};
        how.environment = environment;
        how.directory = (dir / where).string();
        how.output_file = path(tag + ".out");
        how.errors_file = path(tag + ".err");
        how.input_pipe = input_pipe;
        children.push_back(start_wine_child(how));
        return children.back();
    }

    std::string path(const std::string &name) const
    {
        return (dir / name).string();
    }

    std::string file(const std::string &name) const
    {
        return read_file(path(name));
    }

    fs::path dir;
    std::string program;
    std::deque<WineChild> children; // references stay valid as runs are added
};

TEST_F(WineRun, PauseWaitsForAKeyWithTheLogCompleteAndReleased)
{
    WineChild &run = launch("run", {"QUORVANE_FAKE_READINGS=51,-52,53,1540"}, true);
    ASSERT_GT(run.pid, 0);
    const std::string expected = transcript(51, -52, 53, 1540);

    ASSERT_TRUE(wait_until([&] { return file("demo_log.txt") == expected; }, kRunMs))
        << "log so far:\n"
        << file("demo_log.txt");
    // The log is written at its close, after the library's shut-down.
    std::vector<std::string> seen = calls(file("run.trace"));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "Quorvane_Exitialize");
    EXPECT_EQ(count(seen, "Quorvane_GetSensorsValue"), kSamples);

    // No key yet: the program keeps waiting.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_FALSE(has_ended(run)) << "the pause did not wait for a key";

    // Meanwhile another Windows program can open and read the log.
    WineLaunch reader;
    reader.command = {variable("QUORVANE_WINE"), "cmd", "/c", "type", "demo_log.txt"};
    reader.directory = dir.string();
    reader.output_file = path("type.out");
    reader.errors_file = path("type.err");
    children.push_back(start_wine_child(reader));
    ASSERT_TRUE(wait_for_end(children.back(), kEndMs));
    EXPECT_EQ(file("type.out"), expected) << file("type.err");

    ASSERT_TRUE(wait_for_end(run, kEndMs, true)) << "keys did not end the pause";
    EXPECT_EQ(exit_code(run), 0) << describe_end(run);
    EXPECT_TRUE(starts_with(file("run.out"), expected)) << file("run.out");
    EXPECT_EQ(file("run.err"), "");
    EXPECT_EQ(file("demo_log.txt"), expected);
}

TEST_F(WineRun, SecondRunLeavesTheFirstRunsLogAloneAndSaysSo)
{
    // The first run holds its log open and is kept inside the bring-up.
    WineChild &first = launch(
        "first",
        {"QUORVANE_FAKE_READINGS=51,52,53,1540", "QUORVANE_FAKE_INIT_GATE=" + path("gate")}, true);
    ASSERT_GT(first.pid, 0);
    ASSERT_TRUE(wait_until([&] { return !file("first.trace").empty(); }, kEndMs));
    ASSERT_TRUE(fs::exists(path("demo_log.txt")));

    WineChild &second = launch("second", {"QUORVANE_FAKE_READINGS=1,2,3,4"}, false);
    ASSERT_GT(second.pid, 0);
    ASSERT_TRUE(wait_for_end(second, kRunMs));
    EXPECT_EQ(exit_code(second), 0) << describe_end(second);
    EXPECT_TRUE(starts_with(file("second.out"), transcript(1, 2, 3, 4))) << file("second.out");
    EXPECT_EQ(file("second.err"), "quorvane-demo: cannot write demo_log.txt (in use by another "
                                  "program); this run is not logged\r\n");
    std::vector<std::string> seen = calls(file("second.trace"));
    EXPECT_EQ(count(seen, "Quorvane_GetSensorsValue"), kSamples);
    EXPECT_EQ(count(seen, "Quorvane_Exitialize"), 1);
    // Neither truncated nor written by the second run.
    EXPECT_EQ(file("demo_log.txt"), "");

    // Let the first run go on: its log is its own transcript, whole.
    std::ofstream(path("gate")).put('\n');
    const std::string expected = transcript(51, 52, 53, 1540);
    EXPECT_TRUE(wait_until([&] { return file("demo_log.txt") == expected; }, kRunMs))
        << "first run's log:\n"
        << file("demo_log.txt");
    ASSERT_TRUE(wait_for_end(first, kEndMs, true));
    EXPECT_EQ(exit_code(first), 0) << describe_end(first);
    EXPECT_TRUE(starts_with(file("first.out"), expected)) << file("first.out");
    EXPECT_EQ(file("first.err"), "");
}

// On a console every message shows at once, line end or not: the bring-up's
// first words while the library still holds the run.
TEST_F(WineRun, OnAConsoleInitializingShowsBeforeTheBringUpEnds)
{
    WineLaunch how;
    how.command = {variable("QUORVANE_WINE"), fs::path(program).filename().string()};
    how.environment = {"QUORVANE_FAKE_TRACE=" + path("run.trace"),
                       "QUORVANE_FAKE_INIT_GATE=" + path("gate"), "QUORVANE_FAKE_READINGS=1,2,3,4"};
    how.directory = dir.string();
    how.terminal = true;
    children.push_back(start_wine_child(how));
    WineChild &run = children.back();
    ASSERT_GT(run.pid, 0);

    // Wine's console draws with escape sequences: look for the words only.
    EXPECT_TRUE(wait_until(
        [&] {
            read_terminal(run);
            return run.on_screen.find("Initializing...") != std::string::npos;
        },
        kEndMs))
        << run.on_screen;
    // The words come just before the call: give its trace line a moment.
    // The gate keeps the run inside the call, so no later call can follow.
    wait_until([&] { return !calls(file("run.trace")).empty(); }, kEndMs);
    EXPECT_EQ(calls(file("run.trace")), std::vector<std::string>{"Quorvane_Initialize"});
    EXPECT_EQ(run.on_screen.find("OK, 0"), std::string::npos);

    std::ofstream(path("gate")).put('\n');
    ASSERT_TRUE(wait_for_end(run, kRunMs, true));
    EXPECT_EQ(exit_code(run), 0) << describe_end(run);
    EXPECT_NE(run.on_screen.find("[20] CPU=1, GPU=2, MBD=3, FAN=4"), std::string::npos)
        << run.on_screen;
    EXPECT_EQ(file("demo_log.txt"), transcript(1, 2, 3, 4));
}

// A log that cannot be opened or written out in full: one line on standard
// error says so, the console keeps the whole transcript, the exit status
// stays 0.
struct LogTrouble {
    const char *folder;
    void (*make)(const fs::path &log);
    const char *told;
};

const LogTrouble kLogTroubles[] = {
    {"directory", [](const fs::path &log) { fs::create_directory(log); },
     "quorvane-demo: cannot write demo_log.txt (Permission denied); this run is not logged\r\n"},
    {"full-disk", [](const fs::path &log) { fs::create_symlink("/dev/full", log); },
     "quorvane-demo: demo_log.txt is incomplete (No space left on device); the console shows "
     "the whole run\r\n"},
};

TEST_F(WineRun, LogTroubleIsToldOnceAndTheRunGoesOn)
{
    for (const LogTrouble &trouble : kLogTroubles) {
        install(dir / trouble.folder);
        trouble.make(dir / trouble.folder / "demo_log.txt");
        launch("run", {"QUORVANE_FAKE_READINGS=1,2,3,4"}, false, trouble.folder);
    }
    for (size_t i = 0; i < std::size(kLogTroubles); i++) {
        const std::string folder = kLogTroubles[i].folder;
        SCOPED_TRACE(folder);
        ASSERT_TRUE(wait_for_end(children[i], kRunMs));
        EXPECT_EQ(exit_code(children[i]), 0) << describe_end(children[i]);
        EXPECT_TRUE(starts_with(file(folder + "/run.out"), transcript(1, 2, 3, 4)))
            << file(folder + "/run.out");
        EXPECT_EQ(file(folder + "/run.err"), kLogTroubles[i].told);
        EXPECT_EQ(count(calls(file(folder + "/run.trace")), "Quorvane_Exitialize"), 1);
    }
}

TEST_F(WineRun, WithoutTheLibraryTheProgramDoesNotStart)
{
    fs::remove(dir / "Quorvane.dll");
    WineChild &run = launch("run", {}, false);
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(wait_for_end(run, kEndMs));
    EXPECT_EQ(exit_code(run), kDllNotFound) << describe_end(run);
    EXPECT_EQ(file("run.out"), "");
    EXPECT_FALSE(fs::exists(path("demo_log.txt")));
    EXPECT_FALSE(fs::exists(path("sensorinfo.txt")));
    EXPECT_FALSE(fs::exists(path("run.trace")));
}

// Ctrl-C at three moments of the run. Wine turns SIGINT into a Ctrl-C
// event; sent to the process group, it reaches the program and the command
// interpreter of its pause alike, as on a console.
enum class Moment { BringUp, Samples, Pause };

class WineInterrupt : public WineRun {
  protected:
    void interrupt_at(Moment moment);
};

// After the interrupt the library is shut down, the log holds every line
// printed, and the process ends with STATUS_CONTROL_C_EXIT.
void WineInterrupt::interrupt_at(Moment moment)
{
    std::vector<std::string> environment = {"QUORVANE_FAKE_READINGS=51,52,53,1540"};
    if (moment == Moment::BringUp)
        environment.push_back("QUORVANE_FAKE_INIT_GATE=" + path("gate"));
    WineChild &run = launch("run", environment, true);
    ASSERT_GT(run.pid, 0);
    const std::string whole = transcript(51, 52, 53, 1540);

    switch (moment) {
    case Moment::BringUp:
        ASSERT_TRUE(wait_until([&] { return !file("run.trace").empty(); }, kEndMs));
        break;
    case Moment::Samples:
        ASSERT_TRUE(wait_until(
            [&] { return count(calls(file("run.trace")), "Quorvane_GetSensorsValue") >= 3; },
            kEndMs));
        break;
    case Moment::Pause:
        // In the pause once the command interpreter shows its prompt; a
        // Ctrl-C before the interpreter is up reaches only the program,
        // which then waits for the interpreter's end.
        ASSERT_TRUE(wait_until([&] { return file("run.out").size() > whole.size(); }, kRunMs));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        break;
    }
    interrupt_group(run);
    if (moment == Moment::BringUp) {
        // The run notes the interrupt while the library holds it, and acts
        // once the bring-up returns.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        std::ofstream(path("gate")).put('\n');
    }
    ASSERT_TRUE(wait_for_end(run, kEndMs));
    EXPECT_EQ(exit_code(run), kControlCExit) << describe_end(run);

    std::vector<std::string> seen = calls(file("run.trace"));
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "Quorvane_Exitialize");
    EXPECT_EQ(count(seen, "Quorvane_Exitialize"), 1);
    const std::string log = file("demo_log.txt");
    const std::string console = file("run.out");
    switch (moment) {
    case Moment::BringUp:
        EXPECT_EQ(seen, (std::vector<std::string>{"Quorvane_Initialize", "Quorvane_Exitialize"}));
        // The open console line is ended on the console only.
        EXPECT_EQ(console, "Initializing...\r\n");
        EXPECT_EQ(log, "Initializing...");
        break;
    case Moment::Samples: {
        // Every line printed is in the log; no sample follows the interrupt
        // but, at most, one taken and not printed.
        EXPECT_EQ(log, console);
        EXPECT_TRUE(starts_with(whole, log)) << log;
        int printed = 0;
        for (char c : log)
            printed += c == '\n';
        printed -= 1; // the bring-up line
        int taken = count(seen, "Quorvane_GetSensorsValue");
        EXPECT_GE(printed, 3);
        EXPECT_LT(printed, kSamples);
        EXPECT_TRUE(taken == printed || taken == printed + 1)
            << taken << " samples taken, " << printed << " printed";
        break;
    }
    case Moment::Pause:
        EXPECT_EQ(log, whole);
        EXPECT_TRUE(starts_with(console, whole)) << console;
        break;
    }
    EXPECT_EQ(file("run.err"), "");
}

TEST_F(WineInterrupt, InTheBringUp)
{
    interrupt_at(Moment::BringUp);
}

TEST_F(WineInterrupt, BetweenSamples)
{
    interrupt_at(Moment::Samples);
}

TEST_F(WineInterrupt, InTheFinalPause)
{
    interrupt_at(Moment::Pause);
}

// A second Ctrl-C while the first is being handled ends the process at once,
// here inside a bring-up that does not return.
TEST_F(WineInterrupt, SecondOneEndsTheProgramAtOnce)
{
    WineChild &run = launch("run", {"QUORVANE_FAKE_INIT_GATE=" + path("gate")}, true);
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(wait_until([&] { return !file("run.trace").empty(); }, kEndMs));
    interrupt_group(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_FALSE(has_ended(run)) << "the first interrupt did not wait for the library";
    interrupt_group(run);
    ASSERT_TRUE(wait_for_end(run, kEndMs));
    EXPECT_EQ(exit_code(run), kControlCExit) << describe_end(run);
    EXPECT_EQ(calls(file("run.trace")), std::vector<std::string>{"Quorvane_Initialize"});
}

} // namespace
