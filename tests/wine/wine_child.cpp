#include "wine_child.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int kKeyIntervalMs = 200;

std::vector<char *> pointers(std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (std::string &s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

std::vector<std::string> merged_environment(const std::vector<std::string> &added)
{
    std::vector<std::string> out;
    for (char **entry = environ; *entry != nullptr; entry++) {
        std::string item = *entry;
        std::string name = item.substr(0, item.find('='));
        bool replaced = false;
        for (const std::string &add : added)
            replaced = replaced || add.substr(0, add.find('=')) == name;
        if (!replaced)
            out.push_back(item);
    }
    out.insert(out.end(), added.begin(), added.end());
    return out;
}

} // namespace

WineChild start_wine_child(const WineLaunch &launch)
{
    // A key written after the child ended must not end the test.
    signal(SIGPIPE, SIG_IGN);
    WineChild child;
    int input[2] = {-1, -1};
    if (launch.input_pipe && pipe2(input, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return child;
    }
    std::string terminal_name;
    if (launch.terminal) {
        child.terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (child.terminal < 0 || grantpt(child.terminal) != 0 || unlockpt(child.terminal) != 0) {
            ADD_FAILURE() << "terminal: " << strerror(errno);
            return child;
        }
        terminal_name = ptsname(child.terminal);
        fcntl(child.terminal, F_SETFL, O_NONBLOCK);
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, launch.directory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (launch.terminal) {
        // A session of its own, whose controlling terminal this becomes;
        // the session is its process group too.
        posix_spawn_file_actions_addopen(&actions, 0, terminal_name.c_str(), O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, 0, 1);
        posix_spawn_file_actions_adddup2(&actions, 0, 2);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    } else {
        if (launch.input_pipe)
            posix_spawn_file_actions_adddup2(&actions, input[0], 0);
        else
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, launch.output_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, launch.errors_file.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }

    std::vector<std::string> argv = launch.command;
    std::vector<std::string> env = merged_environment(launch.environment);
    int error = posix_spawnp(&child.pid, argv[0].c_str(), &actions, &attributes,
                             pointers(argv).data(), pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (launch.input_pipe)
        close(input[0]);
    if (error != 0) {
        ADD_FAILURE() << "cannot start " << argv[0] << ": " << strerror(error);
        child.pid = -1;
        if (launch.input_pipe)
            close(input[1]);
        return child;
    }
    child.input = launch.terminal ? child.terminal : launch.input_pipe ? input[1] : -1;
    return child;
}

void read_terminal(WineChild &child)
{
    char buffer[4096];
    ssize_t n;
    while (child.terminal >= 0 && (n = read(child.terminal, buffer, sizeof buffer)) > 0)
        child.on_screen.append(buffer, static_cast<size_t>(n));
}

bool has_ended(WineChild &child)
{
    if (child.ended || child.pid <= 0)
        return true;
    int status = 0;
    read_terminal(child);
    if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
        child.status = status;
        child.ended = true;
        read_terminal(child);
        if (child.input >= 0)
            close(child.input);
        if (child.terminal >= 0 && child.terminal != child.input)
            close(child.terminal);
        child.input = child.terminal = -1;
    }
    return child.ended;
}

bool wait_for_end(WineChild &child, int timeout_ms, bool send_keys)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    auto next_key = std::chrono::steady_clock::now();
    while (!has_ended(child)) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return false;
        if (send_keys && child.input >= 0 && now >= next_key) {
            if (write(child.input, child.terminal >= 0 ? "\r" : "\n", 1) < 0) {
                // The reader is gone; the end follows.
            }
            next_key = now + std::chrono::milliseconds(kKeyIntervalMs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

int exit_code(const WineChild &child)
{
    return child.ended && WIFEXITED(child.status) ? WEXITSTATUS(child.status) : -1;
}

std::string describe_end(const WineChild &child)
{
    if (!child.ended)
        return "running";
    if (WIFSIGNALED(child.status))
        return "signal " + std::to_string(WTERMSIG(child.status));
    return "exit " + std::to_string(WEXITSTATUS(child.status));
}

void interrupt_group(const WineChild &child)
{
    if (child.pid > 0)
        kill(-child.pid, SIGINT);
}

void kill_group(WineChild &child)
{
    if (child.pid <= 0)
        return;
    // The group may outlive its leader: the command interpreter of a pause.
    kill(-child.pid, SIGKILL);
    wait_for_end(child, 10000);
}

bool wait_until(const std::function<bool()> &condition, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::string read_file(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
