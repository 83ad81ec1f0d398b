#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The signals that end the run early and are then re-raised.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t noted_signal;
sigset_t interrupt_set;

// Only notes the signal; the run checks it between steps. A second interrupt
// while the first is being handled ends the process at once.
extern "C" void note_interrupt(int sig)
{
    if (noted_signal != 0) {
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    noted_signal = sig;
}

void open_missing_standard_descriptors(void)
{
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // open takes the lowest free descriptor, which is fd itself.
        int null_fd = open("/dev/null", O_RDWR);
        if (null_fd >= 0 && null_fd != fd) {
            dup2(null_fd, fd);
            close(null_fd);
        }
    }
}

void watch_interrupts(void)
{
    sigemptyset(&interrupt_set);
    for (int sig : kInterrupts) {
        sigaddset(&interrupt_set, sig);
        struct sigaction previous = {};
        sigaction(sig, nullptr, &previous);
        // A signal ignored at start (nohup, a background job) stays ignored.
        if (previous.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = note_interrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: a blocking read must return
        sigaction(sig, &action, nullptr);
    }
}

// Waits until fd is readable or an interrupt is noted. Interrupts stay
// blocked except inside ppoll, so none can slip in between the check and
// the wait.
void wait_for_input(int fd)
{
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &interrupt_set, &previous);
    struct pollfd poll_fd = {fd, POLLIN, 0};
    while (noted_signal == 0) {
        int ready = ppoll(&poll_fd, 1, nullptr, &previous);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            break;
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

struct timespec time_left(const struct timespec &deadline)
{
    struct timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    struct timespec left = {deadline.tv_sec - now.tv_sec, deadline.tv_nsec - now.tv_nsec};
    if (left.tv_nsec < 0) {
        left.tv_sec--;
        left.tv_nsec += 1000000000L;
    }
    return left;
}

// Holds a regular log file against other runs and empties it. Returns why
// it cannot, or NULL. A device such as /dev/null or /dev/full is left as it
// is: every program that writes to it shares it, it has no length, and it
// still takes the log.
const char *claim_log(int fd)
{
    struct stat info = {};
    if (fstat(fd, &info) != 0)
        return strerror(errno);
    if (!S_ISREG(info.st_mode))
        return nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? "in use by another run" : strerror(errno);
    if (ftruncate(fd, 0) != 0)
        return strerror(errno);
    return nullptr;
}

} // namespace

void prepare_process(void)
{
    open_missing_standard_descriptors();
    // A console reader that went away makes writes fail, not the process.
    signal(SIGPIPE, SIG_IGN);
    watch_interrupts();
    // The pauses set the run's pace. The kernel's default timer slack lets
    // each wake-up come up to 50 us late to save power, which a program
    // that wakes twice a second does not need.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

bool is_terminal(FILE *stream)
{
    return isatty(fileno(stream)) == 1;
}

FILE *open_log_file(const char *name, char *why, size_t why_size)
{
    // Opened without truncating: another run's log is emptied only after
    // the lock shows that no run holds it.
    int fd = open(name, O_RDWR | O_CREAT | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        snprintf(why, why_size, "%s", strerror(errno));
        return nullptr;
    }
    const char *problem = claim_log(fd);
    FILE *log = problem == nullptr ? fdopen(fd, "w+") : nullptr;
    if (log == nullptr) {
        snprintf(why, why_size, "%s", problem != nullptr ? problem : strerror(errno));
        close(fd);
    }
    return log;
}

void write_log_text(FILE *log, const char *text, size_t length)
{
    const char *end = text + length;
    while (text < end) {
        auto line_end = static_cast<const char *>(memchr(text, '\n', end - text));
        size_t part = line_end != nullptr ? line_end - text : end - text;
        fwrite(text, 1, part, log);
        if (line_end == nullptr)
            break;
        fwrite("\r\n", 1, 2, log);
        text = line_end + 1;
    }
}

void pause_for(unsigned ms)
{
    // The interrupts are blocked and waited for, which ends the pause the
    // moment one arrives. sigtimedwait also keeps to the timer slack set at
    // start, where poll and select let a 500 ms wait run half a millisecond
    // late.
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &interrupt_set, &previous);
    struct timespec deadline = {};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }
    while (noted_signal == 0) {
        struct timespec left = time_left(deadline);
        if (left.tv_sec < 0)
            break;
        int sig = sigtimedwait(&interrupt_set, nullptr, &left);
        if (sig > 0)
            noted_signal = sig;
        else if (errno != EAGAIN && errno != EINTR)
            break;
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

int interrupt_noted(void)
{
    return noted_signal;
}

void end_by_interrupt(void)
{
    int sig = noted_signal;
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    _exit(128 + sig); // not reached unless the signal is blocked elsewhere
}

void wait_for_key(void)
{
    // On a terminal: one key, without echo and without Enter. ISIG stays on,
    // so Ctrl-C still interrupts. The mode is set before the prompt shows,
    // so a key pressed at once is not echoed either.
    struct termios saved = {};
    bool raw = isatty(STDIN_FILENO) == 1 && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (raw) {
        struct termios key_mode = saved;
        key_mode.c_lflag &= ~(ICANON | ECHO);
        key_mode.c_cc[VMIN] = 1;
        key_mode.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &key_mode);
    }
    fputs("Press any key to continue . . . ", stdout);
    fflush(stdout);

    // Elsewhere: at most one byte; end of file or an error ends the wait.
    wait_for_input(STDIN_FILENO);
    char key;
    if (noted_signal == 0 && read(STDIN_FILENO, &key, 1) < 0) {
        // Nothing to read: the wait is over all the same.
    }

    // TCSAFLUSH drops the rest of a key that sends several bytes (arrows).
    if (raw)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    fputs("\n", stdout);
    fflush(stdout);
    if (noted_signal != 0)
        end_by_interrupt();
}
