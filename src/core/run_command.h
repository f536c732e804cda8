#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>

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

// How a program run under a time limit ended.
struct LimitedRun {
    enum class End { kExited, kSignalled, kTimedOut, kNotStarted };
    End end = End::kNotStarted;
    int code = 0;        // exit status, signal number, or the errno of a failed start
    std::string output;  // the first 256 bytes of its standard output
};

// Runs a program (argv[0] a path, no PATH search, no shell) in a process group
// of its own with `extraEnvironment` ("NAME=value" entries, null-ended, or
// null) added to ours, collecting its output. After `timeout_us` on the
// daemon's clock the whole group is killed.
LimitedRun run_program_within(const char* const argv[], const char* const extraEnvironment[], uint64_t timeout_us);
