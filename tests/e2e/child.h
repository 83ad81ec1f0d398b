// Starting the program under test as a child process in a scratch
// directory, with its standard streams wired as a case needs.
#pragma once

#include <string>
#include <sys/types.h>
#include <termios.h>
#include <vector>

enum class Input { Null, Closed, Pipe, Terminal };
enum class Output { Pipe, File, Terminal, Closed };

struct Launch {
    std::vector<std::string> command;     // program and arguments
    std::vector<std::string> environment; // "NAME=value", added to ours
    std::vector<std::string> unset;       // names removed from ours
    std::string directory;                // working directory
    Input input = Input::Null;
    Output output = Output::Pipe;
    bool close_errors = false; // start with standard error closed
};

struct Child {
    pid_t pid = -1;
    int input = -1;    // pipe's write end, or the terminal's master
    int output = -1;   // pipe's read end, or the terminal's master
    int errors = -1;   // standard error's pipe
    int terminal = -1; // the terminal's slave side
    std::string terminal_name;
    std::string output_file;
    std::string seen; // what output has delivered so far
    std::string errors_seen;
};

struct Finished {
    int status = -1; // raw wait status
    bool has_modes = false;
    struct termios modes = {}; // the terminal's modes as the child left them
    std::string output, errors;
};

Child start_child(const Launch &launch);

// Reads output until needle shows up; false when timeout_ms passes first or
// the output ends.
bool read_until(Child &child, const std::string &needle, int timeout_ms);

// Writes bytes to the child's standard input.
void send_input(Child &child, const std::string &bytes);

// True while the child has not ended.
bool still_running(Child &child);

// Writes bytes to the child's input every 100 ms until it ends, for at most
// tries times: a key sent before the program waits for one can be lost.
void send_until_end(Child &child, const std::string &bytes, int tries = 100);

// Closes the child's input, collects the rest of its output and its exit.
Finished finish_child(Child &child, int timeout_ms = 60000);

std::string read_file(const std::string &path);
bool file_exists(const std::string &path);
