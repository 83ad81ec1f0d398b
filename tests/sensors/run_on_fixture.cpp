// quorvane-fixture FIXTURE COMMAND [ARGUMENT...]
//
// Runs COMMAND on the fixture machine described in FIXTURE (see fixture.h):
// in a private mount namespace whose /sys/class and sensors configuration
// are the fixture's. Exits with the command's status. When no mount
// namespace can be made it exits with 77 (a skip for CTest), or with 1
// under CI=true, where a skip would hide a broken test machine.
#include <cstdio>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "fixture.h"

namespace {

constexpr int kSkipped = 77;

int status_of(int wait_status)
{
    if (WIFEXITED(wait_status))
        return WEXITSTATUS(wait_status);
    return 128 + WTERMSIG(wait_status);
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
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0) {
    }
    unmount_fixture();
    return status_of(wait_status);
}
