// Running the Windows program under Wine from a test: each run in a process
// group of its own, so that an interrupt reaches it and the programs it
// starts, as Ctrl-C reaches every program of a console. Its standard output
// and error go to files: Wine's helper programs can hold pipes open long
// after the run ends.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

struct WineLaunch {
    std::vector<std::string> command;     // program and arguments
    std::vector<std::string> environment; // "NAME=value", added to ours
    std::string directory;                // working directory
    std::string output_file, errors_file; // standard output and error
    bool input_pipe = false; // standard input a pipe the test writes keys to; else /dev/null
    // All three standard streams on a new terminal instead, which Wine
    // turns into a console; the output files are then unused.
    bool terminal = false;
};

struct WineChild {
    pid_t pid = -1;
    int input = -1;        // write end of the input pipe or the terminal's master, or -1
    int terminal = -1;     // the terminal's master, or -1
    std::string on_screen; // what the terminal showed so far, escapes included
    int status = -1;       // raw wait status, once ended
    bool ended = false;
};

// Starts the command; the test fails and pid stays -1 when it cannot.
WineChild start_wine_child(const WineLaunch &launch);

// Adds what the child's terminal shows now to on_screen.
void read_terminal(WineChild &child);

// True once the child has ended; collects its status.
bool has_ended(WineChild &child);

// Waits up to timeout_ms for the end. With send_keys, writes a key to the
// child's input every 200 ms meanwhile: a key sent before the program
// waits for one can be lost. False when the time ran out.
bool wait_for_end(WineChild &child, int timeout_ms, bool send_keys = false);

// The low byte of the Windows exit code, as Wine passes it on; -1 when the
// child has not ended normally.
int exit_code(const WineChild &child);

// How the child ended, for messages: "exit 0", "signal 2", "running".
std::string describe_end(const WineChild &child);

// Sends SIGINT to the child's process group: Wine turns it into Ctrl-C.
void interrupt_group(const WineChild &child);

// Ends the child and its group at once, for a test that gives up.
void kill_group(WineChild &child);

// Polls condition every 50 ms for up to timeout_ms; true once it holds.
bool wait_until(const std::function<bool()> &condition, int timeout_ms);

// The whole content of a file; empty when it cannot be read.
std::string read_file(const std::string &path);
