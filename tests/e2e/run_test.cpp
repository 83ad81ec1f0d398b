// Whole runs of the program: the transcript, the log, the calls to the
// library and their timing, the final wait.
#include <regex>
#include <set>
#include <termios.h>

#include "run_fixture.h"

namespace {

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
    {"NegativeReadings",
     {"QUORVANE_FAKE_READINGS=-5,-12,-40,-1"},
     {},
     "OK, 0",
     {{-5, -12, -40, -1}}},
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
    {"OlderLogReplaced", {"QUORVANE_FAKE_READINGS=45,38,31,1200"}, {}, "OK, 0", {kTypical}, true},
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
    send_until_end(child, "k");
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

// --- Native only -------------------------------------------------------------

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
    // The program leaves echo off before it prints the prompt, so one key
    // sent now is read. A second one could arrive after the terminal is
    // restored and be echoed while the program is still on its way out.
    send_input(child, "x");
    Finished done = finish_child(child);
    EXPECT_TRUE(WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0);
    std::string expected = crlf(transcript("OK, 0", {kTypical}));
    EXPECT_EQ(done.output, expected + "Press any key to continue . . . \r\n")
        << "the key is not echoed and the line is ended";
    ASSERT_TRUE(done.has_modes);
    EXPECT_EQ(done.modes.c_lflag, waiting_before.c_lflag) << "the terminal was not restored";
    EXPECT_EQ(log(), expected);
}

void PrintTo(const RunCase &c, std::ostream *out)
{
    *out << c.name;
}

} // namespace
