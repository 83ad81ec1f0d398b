// The run's two output channels. Every message is formatted once and the
// same bytes go first to standard output, then to the run log
// "demo_log.txt" in the current directory.
//
// Standard output is unbuffered on a terminal, so a message without a line
// end shows at once, and fully buffered (4096 bytes) when redirected. The
// run log is buffered in 4096 bytes and never flushed before its close, so
// it stays empty during the run; it has CR LF line ends on every platform.
#pragma once

// Sets up standard output and opens the run log. When the log cannot be
// opened, one line on standard error says why and the run goes on with the
// console alone. Call once, before the first emit.
void open_transcript(void);

// Writes one message, printf conventions, to the console and then the log.
[[gnu::format(printf, 1, 2)]] void emit(const char *format, ...);

// Ends a console line that a message left open, on the console only; for a
// run cut short by an interrupt.
void end_console_line(void);

// Writes the run log out and closes it; says on standard error when the log
// is incomplete. Flushes standard output. Call once, after the last emit.
void close_transcript(void);
