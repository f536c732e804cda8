#pragma once
#include <sys/types.h>

// Formats a shell command (cut to 255 characters) and runs it with system();
// returns what system() returns.
int run_command(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where a program's standard output goes: kDiscardOutput sends it and the
// program's errors to /dev/null; any other descriptor takes the output, and
// the errors go where the daemon's own go.
constexpr int kDiscardOutput = -1;

// Starts a program with an argument vector (ended by a null), without a
// shell, so no argument is ever read as a command; argv[0] is looked up in
// PATH unless it holds a "/". The child's id, or -1 when it did not start.
pid_t program_start(const char* const argv[], int output);

// Waits for a started program: its exit status, or -1 when it did not start
// or did not exit normally.
int program_wait(pid_t child);

// program_start, then program_wait.
int run_program(const char* const argv[], int output = kDiscardOutput);
