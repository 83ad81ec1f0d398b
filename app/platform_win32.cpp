#include "platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>

namespace {

// How long a console-close, log-off or shut-down handler holds the process
// for the run's own shut-down. Windows ends a process that takes longer than
// about five seconds over a close; the run needs well under one.
constexpr DWORD kShutDownGraceMs = 4000;

// How long the final wait's end waits for a Ctrl-C that ended it to reach
// this process's handler.
constexpr DWORD kLateInterruptMs = 250;

// Reasons for a refused log open that say more than the C library's errno
// text, which is "Permission denied" for all of them.
struct OpenFailure {
    DWORD system_error;
    const char *reason;
};
constexpr OpenFailure kOpenFailures[] = {
    {ERROR_SHARING_VIOLATION, "in use by another program"},
    {ERROR_LOCK_VIOLATION, "locked by another program"},
};

// The console event noted first, plus one; 0 while none was.
volatile LONG noted_event;
// Set at the first interrupt: ends the current pause at once.
HANDLE interrupt_event;
// Set when the library is down and the log closed, so that nothing is lost
// when the process ends.
HANDLE shut_down_done;

bool is_interrupt_key(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// Runs on a thread of its own that the system starts for each console
// event. Ctrl-C and Ctrl-Break are only noted; the run checks between steps.
// A close, log-off or shut-down ends the process as soon as this returns,
// so for those the handler waits for the run's shut-down.
BOOL WINAPI note_console_event(DWORD event)
{
    bool first = InterlockedCompareExchange(&noted_event, static_cast<LONG>(event) + 1, 0) == 0;
    if (first)
        SetEvent(interrupt_event);
    else if (is_interrupt_key(event))
        ExitProcess(STATUS_CONTROL_C_EXIT); // a second interrupt ends the process now
    if (!is_interrupt_key(event))
        WaitForSingleObject(shut_down_done, kShutDownGraceMs);
    return TRUE;
}

} // namespace

void prepare_process(void)
{
    // Standard handles that are missing at start need no repair here: the
    // C runtime keeps descriptors 0, 1 and 2 reserved even without a valid
    // handle, so the run log can never take one of them.
    _setmode(_fileno(stdout), _O_TEXT);
    interrupt_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    shut_down_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A process started with Ctrl-C disabled keeps it disabled: the system
    // then calls no handler for it.
    SetConsoleCtrlHandler(note_console_event, TRUE);
}

bool is_terminal(FILE *stream)
{
    return _isatty(_fileno(stream)) != 0;
}

FILE *open_log_file(const char *name, char *why, size_t why_size)
{
    // "w+" in text mode ("t"): created or emptied, every "\n" written as
    // CR LF by the C runtime. _SH_DENYRW: no sharing while the run holds the
    // log, so another run can neither open nor truncate it.
    FILE *log = _fsopen(name, "w+t", _SH_DENYRW);
    if (log != nullptr)
        return log;
    int error = errno;
    unsigned long system_error = _doserrno;
    snprintf(why, why_size, "%s", strerror(error));
    for (const OpenFailure &failure : kOpenFailures) {
        if (failure.system_error == system_error)
            snprintf(why, why_size, "%s", failure.reason);
    }
    return nullptr;
}

void write_log_text(FILE *log, const char *text, size_t length)
{
    // The stream is in text mode: the C runtime turns "\n" into CR LF.
    fwrite(text, 1, length, log);
}

void pause_for(unsigned ms)
{
    WaitForSingleObject(interrupt_event, ms);
}

int interrupt_noted(void)
{
    return static_cast<int>(noted_event);
}

void end_by_interrupt(void)
{
    SetEvent(shut_down_done);
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

void wait_for_key(void)
{
    // The library is down and the log closed: a close handler need not
    // hold the process any longer.
    SetEvent(shut_down_done);
    if (interrupt_noted())
        end_by_interrupt();
    // The command interpreter shows its own prompt and waits for one key; it
    // returns at once when standard input has nothing to give. A Ctrl-C
    // reaches every program of the console: it ends the interpreter, which
    // can be gone before this process's handler has run, so the handler gets
    // a moment to note it.
    fflush(stdout);
    int status = system("pause");
    if (status == static_cast<int>(STATUS_CONTROL_C_EXIT))
        end_by_interrupt();
    WaitForSingleObject(interrupt_event, kLateInterruptMs);
    if (interrupt_noted())
        end_by_interrupt();
}
