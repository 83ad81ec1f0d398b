// End-to-end runs of the program as built, in a scratch directory, against
// the stand-in library. The same cases run natively and, for the Windows
// program, under Wine. Options (or QUORVANE_TEST_* variables) say which:
//   --program=FILE       the program file
//   --library-dir=DIR    the folder holding the stand-in library
//   --platform=NAME      "linux" (default) or "windows"
//   --wine=COMMAND       the command that runs a Windows program
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "child.h"

namespace fs = std::filesystem;

namespace {

struct Setup {
    std::string program, library_dir, wine;
    bool windows = false;
};

const Setup &setup()
{
    static Setup s = [] {
        Setup made;
        auto get = [](const char *name) {
            const char *value = getenv(name);
            return std::string(value != nullptr ? value : "");
        };
        // Options given on the command line win over the environment.
        made.program = get("QUORVANE_TEST_PROGRAM");
        made.library_dir = get("QUORVANE_TEST_LIBRARY_DIR");
        made.windows = get("QUORVANE_TEST_PLATFORM") == "windows";
        made.wine = get("QUORVANE_TEST_WINE");
        if (made.wine.empty())
            made.wine = "wine";
        return made;
    }();
    return s;
}

using Reading = std::array<long long, 4>; // CPU, GPU, MBD, FAN

struct Call {
    long long ns;
    std::string name, arguments;
};

constexpr int kSamples = 20;
constexpr long long kPauseNs = 500LL * 1000 * 1000;

std::string crlf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

// What the console shows of text: CR LF on Windows, as is elsewhere.
std::string console(const std::string &text)
{
    return setup().windows ? crlf(text) : text;
}

// The transcript of a whole run; the last of samples repeats.
std::string transcript(const std::string &status, const std::vector<Reading> &samples)
{
    std::string text = "Initializing..." + status + "\n";
    for (int n = 1; n <= kSamples; n++) {
        const Reading &r = samples[std::min<size_t>(n - 1, samples.size() - 1)];
        char line[160];
        snprintf(line, sizeof line, "[%02d] CPU=%lld, GPU=%lld, MBD=%lld, FAN=%lld\n", n, r[0],
                 r[1], r[2], r[3]);
        text += line;
    }
    return text;
}

std::string before_prompt(const std::string &output)
{
    return output.substr(0, output.find("Press any key"));
}

class Run : public ::testing::Test {
  protected:
    std::string base, dir;

    void SetUp() override
    {
        ASSERT_FALSE(setup().program.empty()) << "QUORVANE_TEST_PROGRAM is not set";
        char name[] = "/tmp/quorvane-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        base = name;
        dir = base + "/run";
        fs::create_directory(dir);
    }

    void TearDown() override
    {
        if (HasFailure())
            printf("scratch directory kept: %s\n", base.c_str());
        else
            fs::remove_all(base);
    }

    // A launch of the program in dir, with the stand-in library in reach
    // unless with_library is false.
    Launch launch(std::vector<std::string> environment = {}, std::vector<std::string> args = {},
                  bool with_library = true)
    {
        Launch l;
        l.directory = dir;
        l.unset = {"QUORVANE_FAKE_STATUS", "QUORVANE_FAKE_INIT_DELAY", "QUORVANE_FAKE_INIT_GATE",
                   "QUORVANE_FAKE_READINGS", "LD_LIBRARY_PATH"};
        l.environment = std::move(environment);
        // Relative, so that it means the same under Wine.
        l.environment.push_back("QUORVANE_FAKE_TRACE=trace.txt");
        if (setup().windows) {
            fs::copy_file(setup().program, dir + "/quorvane-demo.exe",
                          fs::copy_options::overwrite_existing);
            if (with_library)
                fs::copy_file(setup().library_dir + "/Quorvane.dll", dir + "/Quorvane.dll",
                              fs::copy_options::overwrite_existing);
            l.command = {setup().wine, "quorvane-demo.exe"};
        } else if (with_library) {
            l.environment.push_back("LD_LIBRARY_PATH=" + setup().library_dir);
            l.command = {setup().program};
        } else {
            // A copy with nothing at its $ORIGIN/../lib.
            fs::create_directory(base + "/bin");
            fs::copy_file(setup().program, base + "/bin/quorvane-demo");
            l.command = {base + "/bin/quorvane-demo"};
        }
        l.command.insert(l.command.end(), args.begin(), args.end());
        return l;
    }

    Finished run(const Launch &l)
    {
        Child child = start_child(l);
        EXPECT_GT(child.pid, 0);
        return finish_child(child);
    }

    std::string log()
    {
        return read_file(dir + "/demo_log.txt");
    }

    std::vector<Call> calls()
    {
        std::vector<Call> seen;
        std::istringstream lines(read_file(dir + "/trace.txt"));
        std::string line;
        while (std::getline(lines, line)) {
            Call call;
            std::istringstream words(line);
            words >> call.ns >> call.name;
            std::getline(words >> std::ws, call.arguments);
            seen.push_back(call);
        }
        return seen;
    }

    // Everything a run that reached its end must show, given its transcript.
    void expect_complete_run(const Finished &done, const std::string &expected)
    {
        EXPECT_TRUE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0)
            << "wait status " << done.status;
        EXPECT_EQ(before_prompt(done.output), console(expected));
        EXPECT_NE(done.output.find("Press any key"), std::string::npos) << done.output;
        EXPECT_EQ(log(), crlf(expected));
        EXPECT_TRUE(file_exists(dir + "/sensorinfo.txt"));
        expect_call_order();
    }

    // Initialize, the description, twenty readings with zeroed values on
    // entry, at least 500 ms apart, then at least 500 ms to the shut-down.
    void expect_call_order()
    {
        std::vector<Call> seen = calls();
        ASSERT_EQ(seen.size(), 2u + kSamples + 1) << read_file(dir + "/trace.txt");
        EXPECT_EQ(seen[0].name, "Quorvane_Initialize");
        EXPECT_EQ(seen[1].name, "Quorvane_DumpSensorsInfo");
        EXPECT_EQ(seen[1].arguments, "sensorinfo.txt");
        for (int n = 0; n < kSamples; n++) {
            const Call &call = seen[2 + n];
            EXPECT_EQ(call.name, "Quorvane_GetSensorsValue");
            EXPECT_EQ(call.arguments, "0 0 0 0") << "sample " << n + 1;
            const Call &next = seen[3 + n];
            EXPECT_GE(next.ns - call.ns, kPauseNs) << "after sample " << n + 1;
        }
        EXPECT_EQ(seen.back().name, "Quorvane_Exitialize");
    }
};

// --- The table of whole runs -------------------------------------------------

struct RunCase {
    const char *name;
    std::vector<std::string> environment;
    std::vector<std::string> args;
    std::string status; // what follows "Initializing..."
    std::vector<Reading> samples;
    bool old_log = false;
};

const Reading kTypical = {45, 38, 31, 1200};
const Reading kZero = {0, 0, 0, 0};

const RunCase kRunCases[] = {
    {"Success", {"QUORVANE_FAKE_READINGS=45,38,31,1200"}, {}, "OK, 0", {kTypical}},
    {"FailureMinusOne",
     {"QUORVANE_FAKE_STATUS=-1", "QUORVANE_FAKE_READINGS=45,38,31,1200"},
     {},
     "Error, -1",
     {kTypical}},
    {"FailureInt32Min",
     {"QUORVANE_FAKE_STATUS=-2147483648", "QUORVANE_FAKE_READINGS=none"},
     {},
     "Error, -2147483648",
     {kZero}},
    {"FailureOne", {"QUORVANE_FAKE_STATUS=1"}, {}, "Error, 1", {}},
    {"FailureInt32Max",
     {"QUORVANE_FAKE_STATUS=2147483647", "QUORVANE_FAKE_READINGS=45,38,31,1200"},
     {},
     "Error, 2147483647",
     {kTypical}},
    {"NegativeReadings", {"QUORVANE_FAKE_READINGS=-5,-12,-40,-1"}, {}, "OK, 0", {{-5, -12, -40, -1}}},
    {"ExtremeReadings",
     {"QUORVANE_FAKE_READINGS=-2147483648,2147483647,-2147483648,2147483647"},
     {},
     "OK, 0",
     {{-2147483648LL, 2147483647, -2147483648LL, 2147483647}}},
    {"NothingStored", {"QUORVANE_FAKE_READINGS=none"}, {}, "OK, 0", {kZero}},
    {"SomeStored", {"QUORVANE_FAKE_READINGS=55,-,33,-"}, {}, "OK, 0", {{55, 0, 33, 0}}},
    {"ZeroedBeforeEverySample",
     {"QUORVANE_FAKE_READINGS=11,12,13,14;none"},
     {},
     "OK, 0",
     {{11, 12, 13, 14}, kZero}},
    {"ChangingReadings",
     {"QUORVANE_FAKE_READINGS=1,2,3,4;5,6,7,8;90,-7,100,0"},
     {},
     "OK, 0",
     {{1, 2, 3, 4}, {5, 6, 7, 8}, {90, -7, 100, 0}}},
    {"ArgumentsIgnored",
     {"QUORVANE_FAKE_READINGS=45,38,31,1200"},
     {"--help", "-v", "/?", "other.txt"},
     "OK, 0",
     {kTypical}},
    {"OlderLogReplaced",
     {"QUORVANE_FAKE_READINGS=45,38,31,1200"},
     {},
     "OK, 0",
     {kTypical},
     true},
};

class WholeRun : public Run, public ::testing::WithParamInterface<RunCase> {};

TEST_P(WholeRun, TranscriptLogAndCalls)
{
    const RunCase &c = GetParam();
    if (c.old_log) {
        std::string old;
        for (int i = 0; i < 400; i++)
            old += "an older run's line that must not survive\r\n";
        FILE *file = fopen((dir + "/demo_log.txt").c_str(), "wb");
        ASSERT_NE(file, nullptr);
        fwrite(old.data(), 1, old.size(), file);
        fclose(file);
    }
    // FailureOne keeps the healthy default readings: only its first line and
    // the calls are checked.
    Finished done = run(launch(c.environment, c.args));
    if (c.samples.empty()) {
        std::string first = before_prompt(done.output).substr(0, done.output.find('\n'));
        EXPECT_EQ(first, "Initializing..." + c.status + (setup().windows ? "\r" : ""));
        EXPECT_EQ(log().substr(0, log().find('\n') + 1), "Initializing..." + c.status + "\r\n");
        expect_call_order();
        EXPECT_TRUE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0);
        return;
    }
    expect_complete_run(done, transcript(c.status, c.samples));
    EXPECT_EQ(done.errors, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, WholeRun, ::testing::ValuesIn(kRunCases),
                         [](const auto &test) { return std::string(test.param.name); });

// --- Single behaviours -------------------------------------------------------

TEST_F(Run, HealthyDefaultLibraryGivesPlausibleChangingReadings)
{
    Finished done = run(launch());
    std::string text = before_prompt(done.output);
    if (setup().windows)
        text = std::regex_replace(text, std::regex("\r\n"), "\n");
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "Initializing...OK, 0");
    const std::regex sample(
        R"(\[(\d\d)\] CPU=(-?[1-9]\d*|0), GPU=(-?[1-9]\d*|0), MBD=(-?[1-9]\d*|0), FAN=(-?[1-9]\d*|0))");
    std::set<std::string> distinct;
    for (int n = 1; n <= kSamples; n++) {
        ASSERT_TRUE(std::getline(lines, line)) << "sample " << n;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, sample)) << line;
        EXPECT_EQ(std::stoi(m[1]), n);
        EXPECT_GT(std::stoi(m[2]), 0);
        distinct.insert(line.substr(5));
    }
    EXPECT_GT(distinct.size(), 1u) << "the readings never change";
    EXPECT_EQ(log(), crlf(text));
    EXPECT_NE(read_file(dir + "/sensorinfo.txt").find("simulation"), std::string::npos);
}

TEST_F(Run, FinalWaitHoldsUntilAKeyWithTheLogComplete)
{
    Launch l = launch({"QUORVANE_FAKE_READINGS=45,38,31,1200"});
    l.input = Input::Pipe;
    Child child = start_child(l);
    ASSERT_TRUE(read_until(child, "Press any key", 60000)) << child.seen;
    // Redirected output was flushed before the wait: the transcript is all
    // there, in order, and so is the log.
    std::string expected = transcript("OK, 0", {kTypical});
    EXPECT_EQ(before_prompt(child.seen), console(expected));
    EXPECT_EQ(log(), crlf(expected));
    usleep(500 * 1000);
    EXPECT_TRUE(still_running(child)) << "the program did not wait for a key";
    // A key sent before the prompt is read can be lost under Wine: keep
    // sending until the program ends.
    for (int i = 0; i < 100 && still_running(child); i++) {
        send_input(child, "k");
        usleep(100 * 1000);
    }
    Finished done = finish_child(child);
    EXPECT_TRUE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0);
}

TEST_F(Run, RedirectedOutputPutsTheTranscriptBeforeThePrompt)
{
    Launch l = launch({"QUORVANE_FAKE_READINGS=45,38,31,1200"});
    l.output = Output::File;
    Finished done = run(l);
    std::string expected = console(transcript("OK, 0", {kTypical}));
    ASSERT_GE(done.output.size(), expected.size());
    EXPECT_EQ(done.output.substr(0, expected.size()), expected);
    EXPECT_NE(done.output.find("Press any key", expected.size()), std::string::npos);
    if (!setup().windows) {
        EXPECT_EQ(done.output.substr(expected.size()), "Press any key to continue . . . \n");
    }
}

TEST_F(Run, WithoutTheLibraryTheProgramDoesNotStart)
{
    Finished done = run(launch({}, {}, false));
    EXPECT_FALSE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0);
    EXPECT_EQ(done.output.find("Initializing"), std::string::npos);
    EXPECT_FALSE(file_exists(dir + "/demo_log.txt"));
    EXPECT_FALSE(file_exists(dir + "/trace.txt"));
}

// --- Native only -------------------------------------------------------------

class NativeRun : public Run {
  protected:
    void SetUp() override
    {
        if (setup().windows)
            GTEST_SKIP() << "a native behaviour";
        Run::SetUp();
    }
};

TEST_F(NativeRun, TerminalShowsInitializingWhileTheLibraryComesUp)
{
    Launch l = launch({"QUORVANE_FAKE_INIT_GATE=gate", "QUORVANE_FAKE_READINGS=45,38,31,1200"});
    l.input = Input::Terminal;
    l.output = Output::Terminal;
    Child child = start_child(l);
    ASSERT_GT(child.pid, 0);
    struct termios waiting_before;
    ASSERT_EQ(tcgetattr(child.terminal, &waiting_before), 0);
    // The library holds Quorvane_Initialize until the gate exists, so the
    // text can only arrive here if it was written out unbuffered.
    ASSERT_TRUE(read_until(child, "Initializing...", 20000)) << child.seen;
    EXPECT_EQ(child.seen.find("OK"), std::string::npos);
    FILE *gate = fopen((dir + "/gate").c_str(), "w");
    ASSERT_NE(gate, nullptr);
    fclose(gate);

    ASSERT_TRUE(read_until(child, "[05]", 20000)) << child.seen;
    EXPECT_TRUE(file_exists(dir + "/demo_log.txt"));
    EXPECT_EQ(log(), "") << "the log is written only at its close";

    ASSERT_TRUE(read_until(child, "Press any key to continue . . . ", 60000)) << child.seen;
    for (int i = 0; i < 100 && still_running(child); i++) {
        send_input(child, "x");
        usleep(100 * 1000);
    }
    Finished done = finish_child(child);
    EXPECT_TRUE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0);
    std::string expected = crlf(transcript("OK, 0", {kTypical}));
    EXPECT_EQ(done.output, expected + "Press any key to continue . . . \r\n")
        << "the key is not echoed and the line is ended";
    ASSERT_TRUE(done.has_modes);
    EXPECT_EQ(done.modes.c_lflag, waiting_before.c_lflag) << "the terminal was not restored";
    EXPECT_EQ(log(), expected);
}

TEST(Program, RunpathHoldsOnlyTheLibraryFolderBesideIt)
{
    if (setup().windows)
        GTEST_SKIP() << "an ELF property";
    std::string command = "readelf -d '" + setup().program + "'";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string dynamic;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr)
        dynamic += buffer;
    pclose(pipe);
    EXPECT_EQ(dynamic.find("(RPATH)"), std::string::npos) << "RPATH outranks LD_LIBRARY_PATH";
    std::smatch m;
    ASSERT_TRUE(std::regex_search(dynamic, m, std::regex(R"(\(RUNPATH\)\s+Library runpath: \[(.*)\])")))
        << dynamic;
    std::string runpath = m[1];
    EXPECT_EQ(runpath, "$ORIGIN/../lib");
    // An empty entry would mean the current directory.
    EXPECT_EQ(runpath.find("::"), std::string::npos);
    EXPECT_NE(runpath.front(), ':');
    EXPECT_NE(runpath.back(), ':');
    EXPECT_TRUE(std::regex_search(dynamic, std::regex(R"(\(NEEDED\).*\[libquorvane\.so\.1\])")));
}

void PrintTo(const RunCase &c, std::ostream *out)
{
    *out << c.name;
}

} // namespace

// Turns --name=value options into QUORVANE_TEST_NAME variables.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; i++) {
        std::string option = argv[i];
        size_t equals = option.find('=');
        if (option.rfind("--", 0) != 0 || equals == std::string::npos) {
            fprintf(stderr, "e2e_tests: unknown argument %s\n", argv[i]);
            return 2;
        }
        std::string name = "QUORVANE_TEST_" + option.substr(2, equals - 2);
        for (char &c : name)
            c = c == '-' ? '_' : static_cast<char>(toupper(static_cast<unsigned char>(c)));
        setenv(name.c_str(), option.c_str() + equals + 1, 1);
    }
    return RUN_ALL_TESTS();
}
