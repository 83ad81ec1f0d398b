#include "child.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Reads what is available on fd into out; false at end of output.
bool drain(int fd, std::string &out)
{
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0)
        out.append(buffer, static_cast<size_t>(got));
    return got > 0 || (got < 0 && errno == EINTR);
}

void child_side(const Launch &launch, int in, int out, int err, bool terminal)
{
    if (terminal) {
        setsid();
        ioctl(launch.output == Output::Terminal ? out : in, TIOCSCTTY, 0);
    }
    if (launch.input == Input::Closed)
        close(0);
    else
        dup2(in, 0);
    if (launch.output == Output::Closed)
        close(1);
    else
        dup2(out, 1);
    if (launch.close_errors)
        close(2);
    else
        dup2(err, 2);
    for (int fd = 3; fd < 256; fd++)
        close(fd);
    if (chdir(launch.directory.c_str()) != 0)
        _exit(126);
    for (const auto &name : launch.unset)
        unsetenv(name.c_str());
    for (const auto &entry : launch.environment)
        putenv(const_cast<char *>(entry.c_str()));
    std::vector<char *> argv;
    for (const auto &word : launch.command)
        argv.push_back(const_cast<char *>(word.c_str()));
    argv.push_back(nullptr);
    signal(SIGPIPE, SIG_DFL);
    execvp(argv[0], argv.data());
    dprintf(2, "cannot start %s: %s\n", argv[0], strerror(errno));
    _exit(127);
}

} // namespace

Child start_child(const Launch &launch)
{
    Child child;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2];
    if (pipe2(err, O_CLOEXEC) != 0)
        return child;

    int master = -1, slave = -1;
    bool terminal = launch.input == Input::Terminal || launch.output == Output::Terminal;
    if (terminal) {
        struct winsize size = {24, 80, 0, 0};
        if (openpty(&master, &slave, nullptr, nullptr, &size) != 0)
            return child;
    }

    switch (launch.input) {
    case Input::Null:
        in[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
        break;
    case Input::Closed:
        break;
    case Input::Pipe:
        if (pipe2(in, O_CLOEXEC) != 0)
            return child;
        break;
    case Input::Terminal:
        in[0] = slave;
        in[1] = master;
        break;
    }
    switch (launch.output) {
    case Output::Pipe:
        if (pipe2(out, O_CLOEXEC) != 0)
            return child;
        break;
    case Output::File:
        child.output_file = launch.directory + "/../stdout.txt";
        out[1] = open(child.output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        break;
    case Output::Terminal:
        out[0] = master;
        out[1] = slave;
        break;
    case Output::Closed:
        break;
    }

    child.pid = fork();
    if (child.pid == 0)
        child_side(launch, in[0], out[1], err[1], terminal);

    close(err[1]);
    child.errors = err[0];
    child.input = in[1];
    child.output = out[0];
    if (launch.input != Input::Terminal && in[0] >= 0)
        close(in[0]);
    if (launch.output != Output::Terminal && out[1] >= 0)
        close(out[1]);
    if (terminal) {
        child.terminal = slave;
        child.terminal_name = ttyname(slave);
    }
    return child;
}

bool read_until(Child &child, const std::string &needle, int timeout_ms)
{
    long long deadline = now_ms() + timeout_ms;
    while (child.seen.find(needle) == std::string::npos) {
        long long left = deadline - now_ms();
        if (left <= 0 || child.output < 0)
            return false;
        struct pollfd ready = {child.output, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(left)) > 0 && !drain(child.output, child.seen))
            return child.seen.find(needle) != std::string::npos;
    }
    return true;
}

void send_input(Child &child, const std::string &bytes)
{
    if (child.input >= 0 && write(child.input, bytes.data(), bytes.size()) < 0) {
        // The child may have ended already; its exit is checked elsewhere.
    }
}

bool still_running(Child &child)
{
    // WNOWAIT leaves the exit to be collected by finish_child.
    siginfo_t info{};
    return waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

void send_until_end(Child &child, const std::string &bytes, int tries)
{
    for (int i = 0; i < tries && still_running(child); i++) {
        send_input(child, bytes);
        usleep(100 * 1000);
    }
}

Finished finish_child(Child &child, int timeout_ms)
{
    Finished done;
    bool shared = child.input >= 0 && child.input == child.output;
    if (child.input >= 0 && !shared)
        close(child.input);
    long long deadline = now_ms() + timeout_ms;
    bool out_open = child.output >= 0, err_open = true;
    while (out_open || err_open) {
        long long left = deadline - now_ms();
        if (left <= 0)
            break;
        struct pollfd watch[2] = {{out_open ? child.output : -1, POLLIN, 0},
                                  {err_open ? child.errors : -1, POLLIN, 0}};
        // A terminal's master never reports end of output while we hold the
        // slave: stop reading it once the child has gone.
        int timeout = shared || child.terminal >= 0 ? 100 : static_cast<int>(left);
        int ready = poll(watch, 2, timeout);
        if (ready == 0 && child.terminal >= 0 && !still_running(child)) {
            struct pollfd more = {child.output, POLLIN, 0};
            while (out_open && poll(&more, 1, 50) > 0 && drain(child.output, child.seen)) {
            }
            out_open = false;
            continue;
        }
        if (watch[0].revents != 0 && !drain(child.output, child.seen))
            out_open = false;
        if (watch[1].revents != 0 && !drain(child.errors, child.errors_seen))
            err_open = false;
    }
    if (now_ms() >= deadline)
        kill(child.pid, SIGKILL);
    waitpid(child.pid, &done.status, 0);
    if (child.terminal >= 0) {
        // The child's exit hung up our old descriptor; a new one still
        // shows the modes it left behind.
        int fresh = open(child.terminal_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        done.has_modes = fresh >= 0 && tcgetattr(fresh, &done.modes) == 0;
        if (fresh >= 0)
            close(fresh);
        close(child.terminal);
        child.terminal = -1;
    }
    if (!child.output_file.empty())
        child.seen = read_file(child.output_file);
    done.output = child.seen;
    done.errors = child.errors_seen;
    if (child.output >= 0)
        close(child.output);
    close(child.errors);
    child.output = child.errors = child.input = -1;
    return done;
}

std::string read_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

bool file_exists(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}
