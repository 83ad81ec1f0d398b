// Platform pieces of the run, one source file per platform
// (platform_posix.cpp, platform_win32.cpp). Every call is made from the
// run's one thread.
#pragma once

#include <cstddef>
#include <cstdio>

// Makes the process safe to run: descriptors 0, 1 and 2 open (a closed one
// would otherwise be taken by the run log), writes to a vanished reader
// reported as errors rather than fatal, and interrupts (Ctrl-C, termination,
// hang-up, console close) noted instead of ending the process at once.
// Call once, first thing.
void prepare_process(void);

// True when stream is a terminal or another character device.
bool is_terminal(FILE *stream);

// Opens the run log for writing, created or emptied, and held so that no
// other run of this program can open or truncate it meanwhile. Returns NULL
// when it cannot, with a short reason in why (for example
// "Permission denied"). The caller owns the stream and closes it with
// fclose.
FILE *open_log_file(const char *name, char *why, size_t why_size);

// Writes text to the log stream, every "\n" as CR LF.
void write_log_text(FILE *log, const char *text, size_t length);

// Sleeps for ms milliseconds; returns early when an interrupt arrives.
void pause_for(unsigned ms);

// The interrupt noted so far, or 0 when none.
int interrupt_noted(void);

// Ends the process the way the noted interrupt would have: by the same
// signal on POSIX, with STATUS_CONTROL_C_EXIT on Windows. Call only after
// interrupt_noted() returned non-zero and every resource was released.
[[noreturn]] void end_by_interrupt(void);

// Tells the user that a key ends the program and waits for one. Returns at
// once when standard input has nothing to give (end of file, closed). On an
// interrupt it restores the terminal and ends by it.
void wait_for_key(void);
