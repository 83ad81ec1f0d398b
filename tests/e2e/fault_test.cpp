// Runs in trouble: a log that cannot be opened or written out, standard
// streams closed or gone, interrupts. The console transcript stays as it is,
// nothing is lost that could be kept, and a run that reaches its end still
// exits 0.
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>

#include "run_fixture.h"

namespace {

const std::vector<std::string> kTypicalEnvironment = {"QUORVANE_FAKE_READINGS=45,38,31,1200"};

std::string typical_transcript()
{
    return transcript("OK, 0", {{45, 38, 31, 1200}});
}

bool ended_by(const Finished &done, int sig)
{
    return WIFSIGNALED(done.status) && WTERMSIG(done.status) == sig;
}

bool exited_zero(const Finished &done)
{
    return WIFEXITED(done.status) && WEXITSTATUS(done.status) == 0;
}

void write_file(const std::string &path, const std::string &content)
{
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(content.data(), 1, content.size(), file);
    fclose(file);
}

class Trouble : public NativeRun {
  protected:
    // Waits until the library has seen count calls.
    bool wait_for_calls(size_t count)
    {
        for (int i = 0; i < 3000; i++) {
            if (calls().size() >= count)
                return true;
            usleep(10 * 1000);
        }
        return false;
    }

    // Runs the program as an unprivileged user when we are root, who may
    // write where the case forbids it.
    void drop_privileges(Launch &l)
    {
        if (geteuid() != 0)
            return;
        chmod(base.c_str(), 0777);
        l.command.insert(l.command.begin(),
                         {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    }
};

// --- A log that cannot be opened ---------------------------------------------

const char kOlderLog[] = "an older log that must survive\r\n";

struct LogCase {
    const char *name;
    // Prepares the run directory; returns a descriptor to hold during the
    // run, or -1.
    std::function<int(const std::string &dir)> prepare;
    bool unprivileged;
    const char *reason;
    bool keeps_older_log;
};

const LogCase kLogCases[] = {
    {"ReadOnlyLog",
     [](const std::string &dir) {
         write_file(dir + "/demo_log.txt", kOlderLog);
         chmod((dir + "/demo_log.txt").c_str(), 0444);
         chmod(dir.c_str(), 0777);
         return -1;
     },
     true, "Permission denied", true},
    {"UnwritableDirectory",
     [](const std::string &dir) {
         chmod(dir.c_str(), 0555);
         return -1;
     },
     true, "Permission denied", false},
    {"DirectoryOfThatName",
     [](const std::string &dir) {
         mkdir((dir + "/demo_log.txt").c_str(), 0755);
         return -1;
     },
     false, "Is a directory", false},
    {"HeldByAnotherRun",
     [](const std::string &dir) {
         write_file(dir + "/demo_log.txt", kOlderLog);
         int held = open((dir + "/demo_log.txt").c_str(), O_RDWR | O_CLOEXEC);
         flock(held, LOCK_EX);
         return held;
     },
     false, "in use by another run", true},
};

class UnopenableLog : public Trouble, public ::testing::WithParamInterface<LogCase> {};

TEST_P(UnopenableLog, RunGoesOnWithTheConsoleAloneAndSaysWhy)
{
    const LogCase &c = GetParam();
    int held = c.prepare(dir);
    Launch l = launch(kTypicalEnvironment);
    if (c.unprivileged)
        drop_privileges(l);
    Finished done = run(l);
    if (held >= 0)
        close(held);

    EXPECT_TRUE(exited_zero(done)) << done.status;
    EXPECT_EQ(before_prompt(done.output), typical_transcript());
    EXPECT_EQ(done.errors, std::string("quorvane-demo: cannot write demo_log.txt (") + c.reason +
                               "); this run is not logged\n");
    expect_call_order();
    if (c.keeps_older_log) {
        EXPECT_EQ(log(), kOlderLog);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UnopenableLog, ::testing::ValuesIn(kLogCases),
                         [](const auto &test) { return std::string(test.param.name); });

void PrintTo(const LogCase &c, std::ostream *out)
{
    *out << c.name;
}

TEST_F(Trouble, LogThatCannotBeWrittenOutIsReportedIncomplete)
{
    ASSERT_EQ(symlink("/dev/full", (dir + "/demo_log.txt").c_str()), 0);
    // Another program's lock on the device is no reason to give up the log:
    // every run that writes to /dev/full shares that one device.
    int device = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(device, 0);
    ASSERT_EQ(flock(device, LOCK_EX), 0);
    Finished done = run(launch(kTypicalEnvironment));
    close(device);
    EXPECT_TRUE(exited_zero(done)) << done.status;
    EXPECT_EQ(before_prompt(done.output), typical_transcript());
    EXPECT_NE(done.errors.find("demo_log.txt is incomplete (No space left on device)"),
              std::string::npos)
        << done.errors;
    EXPECT_EQ(std::count(done.errors.begin(), done.errors.end(), '\n'), 1) << done.errors;
    expect_call_order();
}

// --- Standard streams closed or gone -----------------------------------------

struct StreamCase {
    const char *name;
    Input input;
    Output output;
    bool close_errors;
    bool reader_leaves; // the console's reader closes its end at once
};

const StreamCase kStreamCases[] = {
    {"StdinClosed", Input::Closed, Output::Pipe, false, false},
    {"StdoutClosed", Input::Null, Output::Closed, false, false},
    {"StderrClosed", Input::Null, Output::Pipe, true, false},
    {"AllClosed", Input::Closed, Output::Closed, true, false},
    {"StdoutReaderGone", Input::Null, Output::Pipe, false, true},
};

void PrintTo(const StreamCase &c, std::ostream *out)
{
    *out << c.name;
}

class LostStreams : public Trouble, public ::testing::WithParamInterface<StreamCase> {};

// Every call is made and the log is whole: with descriptor 1 closed the log
// must not take its place, or the console text would land in it.
TEST_P(LostStreams, RunCompletesWithAWholeLog)
{
    const StreamCase &c = GetParam();
    Launch l = launch(kTypicalEnvironment);
    l.input = c.input;
    l.output = c.output;
    l.close_errors = c.close_errors;
    Child child = start_child(l);
    ASSERT_GT(child.pid, 0);
    if (c.reader_leaves) {
        close(child.output);
        child.output = -1;
    }
    Finished done = finish_child(child);
    EXPECT_TRUE(exited_zero(done)) << "wait status " << done.status;
    EXPECT_EQ(log(), crlf(typical_transcript()));
    expect_call_order();
    if (c.output == Output::Pipe && !c.reader_leaves) {
        EXPECT_EQ(before_prompt(done.output), typical_transcript());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LostStreams, ::testing::ValuesIn(kStreamCases),
                         [](const auto &test) { return std::string(test.param.name); });

TEST_F(Trouble, NoDescriptorIsLeftOpenForTheFinalWait)
{
    Launch l = launch(kTypicalEnvironment);
    l.input = Input::Pipe;
    Child child = start_child(l);
    ASSERT_TRUE(read_until(child, "Press any key", 60000)) << child.seen;
    std::vector<std::string> open_fds;
    for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(child.pid) + "/fd"))
        open_fds.push_back(entry.path().filename());
    std::sort(open_fds.begin(), open_fds.end());
    EXPECT_EQ(open_fds, (std::vector<std::string>{"0", "1", "2"}));
    send_input(child, "k");
    EXPECT_TRUE(exited_zero(finish_child(child)));
}

// --- Interrupts --------------------------------------------------------------

struct InterruptCase {
    const char *name;
    int sig;
};

const InterruptCase kInterruptCases[] = {
    {"Interrupt", SIGINT},
    {"Terminate", SIGTERM},
    {"HangUp", SIGHUP},
};

void PrintTo(const InterruptCase &c, std::ostream *out)
{
    *out << c.name;
}

class Interrupted : public Trouble, public ::testing::WithParamInterface<InterruptCase> {};

// Mid-run: no further sample, the library shut down, every printed line in
// the log, and the process ended by the same signal.
TEST_P(Interrupted, DuringTheSamplesShutsDownKeepsTheLogAndEndsBySignal)
{
    Child child = start_child(launch(kTypicalEnvironment));
    ASSERT_TRUE(wait_for_calls(4)) << "no second sample";
    kill(child.pid, GetParam().sig);
    Finished done = finish_child(child);

    EXPECT_TRUE(ended_by(done, GetParam().sig)) << "wait status " << done.status;
    std::vector<Call> seen = calls();
    ASSERT_GE(seen.size(), 5u);
    EXPECT_EQ(seen.back().name, "Quorvane_Exitialize");
    size_t calls_made = seen.size() - 3;
    EXPECT_LT(calls_made, 20u);
    // A signal that lands inside a reading call leaves that sample unprinted:
    // after an interrupt nothing more is printed.
    std::string expected = typical_transcript();
    size_t printed = std::count(done.output.begin(), done.output.end(), '\n') - 1;
    EXPECT_TRUE(printed == calls_made || printed + 1 == calls_made)
        << printed << " samples printed, " << calls_made << " taken";
    EXPECT_EQ(done.output, expected.substr(0, done.output.size()))
        << "no prompt, no further message";
    EXPECT_EQ(log(), crlf(done.output));
}

INSTANTIATE_TEST_SUITE_P(Cases, Interrupted, ::testing::ValuesIn(kInterruptCases),
                         [](const auto &test) { return std::string(test.param.name); });

TEST_F(Trouble, InterruptDuringBringUpEndsTheOpenLineOnTheConsoleOnly)
{
    Child child = start_child(launch({"QUORVANE_FAKE_INIT_GATE=gate"}));
    ASSERT_TRUE(wait_for_calls(1));
    kill(child.pid, SIGINT);
    usleep(100 * 1000);
    write_file(dir + "/gate", "");
    Finished done = finish_child(child);

    EXPECT_TRUE(ended_by(done, SIGINT)) << "wait status " << done.status;
    std::vector<Call> seen = calls();
    ASSERT_EQ(seen.size(), 2u) << "only the shut-down follows an interrupt";
    EXPECT_EQ(seen[1].name, "Quorvane_Exitialize");
    EXPECT_EQ(done.output, "Initializing...\n");
    EXPECT_EQ(log(), "Initializing...");
}

TEST_F(Trouble, InterruptDuringTheFinalWaitEndsBySignalWithTheLogComplete)
{
    Launch l = launch(kTypicalEnvironment);
    l.input = Input::Pipe;
    Child child = start_child(l);
    ASSERT_TRUE(read_until(child, "Press any key", 60000)) << child.seen;
    kill(child.pid, SIGINT);
    Finished done = finish_child(child);
    EXPECT_TRUE(ended_by(done, SIGINT)) << "wait status " << done.status;
    EXPECT_EQ(log(), crlf(typical_transcript()));
}

TEST_F(Trouble, SecondInterruptDuringShutDownEndsTheProcessAtOnce)
{
    std::vector<std::string> environment = kTypicalEnvironment;
    environment.push_back("QUORVANE_FAKE_EXIT_DELAY=20000");
    Child child = start_child(launch(environment));
    ASSERT_TRUE(wait_for_calls(3));
    kill(child.pid, SIGINT);
    ASSERT_TRUE(wait_for_calls(4 + 0)) << "no shut-down";
    while (calls().back().name != "Quorvane_Exitialize")
        usleep(10 * 1000);
    kill(child.pid, SIGTERM);
    Finished done = finish_child(child, 10000);
    EXPECT_TRUE(ended_by(done, SIGTERM)) << "wait status " << done.status;
}

TEST_F(Trouble, CtrlCOnATerminalDuringTheFinalWaitRestoresTheTerminal)
{
    Launch l = launch(kTypicalEnvironment);
    l.input = Input::Terminal;
    l.output = Output::Terminal;
    Child child = start_child(l);
    ASSERT_GT(child.pid, 0);
    struct termios before;
    ASSERT_EQ(tcgetattr(child.terminal, &before), 0);
    ASSERT_TRUE(read_until(child, "Press any key to continue . . . ", 60000)) << child.seen;
    // The terminal turns Ctrl-C into SIGINT only while ISIG is kept on. The
    // prompt comes after the wait's modes are set, so one Ctrl-C is enough;
    // a second could land during shut-down and end the process at once.
    send_input(child, "\x03");
    Finished done = finish_child(child);
    EXPECT_TRUE(ended_by(done, SIGINT)) << "wait status " << done.status;
    ASSERT_TRUE(done.has_modes);
    EXPECT_EQ(done.modes.c_lflag, before.c_lflag) << "the terminal was not restored";
    EXPECT_EQ(log(), crlf(typical_transcript()));
}

} // namespace
