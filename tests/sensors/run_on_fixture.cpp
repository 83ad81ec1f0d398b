// quorvane-fixture FIXTURE COMMAND [ARGUMENT...]
//
// Runs COMMAND on the fixture machine described in FIXTURE (see fixture.h):
// in a private mount namespace whose /sys/class and sensors configuration
// are the fixture's. Exits with the command's status. When no mount
// namespace can be made it exits with 77 (a skip for CTest), or with 1
// under CI=true, where a skip would hide a broken test machine.
#include <csignal>
#include <cstdio>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "fixture.h"

namespace {

constexpr int kSkipped = 77;

volatile pid_t command_pid;

// A signal meant for the command is passed on, so that it shuts down in its
// own way while this process stays to remove the fixture.
extern "C" void pass_on(int sig)
{
    if (command_pid > 0)
        kill(command_pid, sig);
}

void pass_signals_on(void)
{
    struct sigaction action {};
    action.sa_handler = pass_on;
    sigemptyset(&action.sa_mask);
    // Ctrl-C and Ctrl-\ reach the command from the terminal already.
    for (int sig : {SIGTERM, SIGHUP})
        sigaction(sig, &action, nullptr);
    signal(SIGINT, SIG_IGN);
    signal(SIGQUIT, SIG_IGN);
}

// Ends this process the way the command ended: same status, same signal.
int end_like(int wait_status)
{
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    int sig = WTERMSIG(wait_status);
    signal(sig, SIG_DFL);
    raise(sig);
    return 128 + sig;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s FIXTURE COMMAND [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    std::string why;
    if (!enter_private_namespace(&why)) {
        bool fatal = namespace_failure_is_fatal();
        fprintf(stderr, "%s: %s: cannot make a private mount namespace: %s\n", argv[0],
                fatal ? "FAILED (CI=true)" : "skipped", why.c_str());
        return fatal ? 1 : kSkipped;
    }
    if (!mount_fixture(argv[1], &why)) {
        fprintf(stderr, "%s: cannot build the fixture: %s\n", argv[0], why.c_str());
        return 1;
    }
    // The fixture's EIO holder is our child and must outlive the command,
    // so the command runs as another child, not in our place.
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 1;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        fprintf(stderr, "%s: cannot run %s: ", argv[0], argv[2]);
        perror(nullptr);
        _exit(127);
    }
    command_pid = child;
    pass_signals_on();
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0) {
    }
    unmount_fixture();
    return end_like(wait_status);
}
