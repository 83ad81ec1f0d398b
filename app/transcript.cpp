#include "transcript.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform.h"

namespace {

constexpr char kProgram[] = "quorvane-demo";
constexpr char kLogName[] = "demo_log.txt";
constexpr size_t kBufferSize = 4096;

// Static buffers: the channels never allocate.
char console_buffer[kBufferSize];
char log_buffer[kBufferSize];

FILE *run_log; // NULL when this run is not logged
bool console_line_open;
int log_write_error; // the first errno seen while writing the log

void note_log_error(void)
{
    if (log_write_error == 0)
        log_write_error = errno != 0 ? errno : EIO;
}

} // namespace

void open_transcript(void)
{
    if (is_terminal(stdout))
        setvbuf(stdout, nullptr, _IONBF, 0);
    else
        setvbuf(stdout, console_buffer, _IOFBF, sizeof console_buffer);

    char why[128];
    run_log = open_log_file(kLogName, why, sizeof why);
    if (run_log == nullptr) {
        fprintf(stderr, "%s: cannot write %s (%s); this run is not logged\n", kProgram, kLogName,
                why);
        return;
    }
    setvbuf(run_log, log_buffer, _IOFBF, sizeof log_buffer);
}

void emit(const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    int formatted = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (formatted <= 0)
        return;
    size_t length = static_cast<size_t>(formatted);
    if (length >= sizeof text)
        length = sizeof text - 1;

    fwrite(text, 1, length, stdout);
    console_line_open = text[length - 1] != '\n';
    if (run_log != nullptr) {
        errno = 0;
        write_log_text(run_log, text, length);
        if (ferror(run_log))
            note_log_error();
    }
}

void end_console_line(void)
{
    if (console_line_open)
        fputc('\n', stdout);
    console_line_open = false;
}

void close_transcript(void)
{
    if (run_log != nullptr) {
        errno = 0;
        if (fflush(run_log) != 0)
            note_log_error();
        errno = 0;
        if (fclose(run_log) != 0)
            note_log_error();
        run_log = nullptr;
        if (log_write_error != 0)
            fprintf(stderr, "%s: %s is incomplete (%s); the console shows the whole run\n",
                    kProgram, kLogName, strerror(log_write_error));
    }
    fflush(stdout);
}
