#include "core/run_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/time_seam.h"

#include "core/clock_helpers.h"

extern char** environ;

int run_command(const char* format, ...) {
    char command[256];
    va_list args;
    va_start(args, format);
    vsnprintf(command, sizeof command, format, args);
    va_end(args);
    return std::system(command);
}

pid_t program_start(const char* const argv[], int output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == kDiscardOutput) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    }
    pid_t child = -1;
    const auto environment = clock_environment_lock();
    // posix_spawnp promises not to change the vector; its prototype predates const.
    int failed = posix_spawnp(&child, argv[0], &actions, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? child : -1;
}

int program_wait(pid_t child) {
    if (child < 0) return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int run_program(const char* const argv[], int output) { return program_wait(program_start(argv, output)); }

namespace {

constexpr size_t kOutputKept = 256;
constexpr int kEndingPauses = 100;
constexpr uint64_t kEndingPause = 10000;  // microseconds

// Our environment with the extra entries in place of those of the same name.
std::vector<char*> environment_with(const char* const extra[]) {
    std::vector<char*> entries;
    const auto overridden = [extra](const char* entry) {
        for (size_t i = 0; extra != nullptr && extra[i] != nullptr; ++i) {
            const size_t name = std::strcspn(extra[i], "=") + 1;
            if (std::strncmp(entry, extra[i], name) == 0) return true;
        }
        return false;
    };
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!overridden(*entry)) entries.push_back(*entry);
    for (size_t i = 0; extra != nullptr && extra[i] != nullptr; ++i) entries.push_back(const_cast<char*>(extra[i]));
    entries.push_back(nullptr);
    return entries;
}

pid_t start_in_own_group(const char* const argv[], const char* const extra[], int output, int& error) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    const auto environmentLock = clock_environment_lock();
    std::vector<char*> environment = environment_with(extra);
    pid_t child = -1;
    error = posix_spawn(&child, argv[0], &actions, &attributes, const_cast<char* const*>(argv), environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? child : -1;
}

// Reads the output until it ends or the deadline passes; keeps its start.
// True when it ended, or when the deadline passed while it was coming (the
// program may be ending: a simulated board's fast clock runs past the
// deadline while the program takes real time).
bool collect_output(int fd, uint64_t deadline, std::string& kept) {
    bool came = false;
    for (;;) {
        const uint64_t now = monotonic_us();
        if (now >= deadline) return came;
        if (wait_readable(fd, deadline - now) != 1) return false;
        char piece[512];
        const ssize_t count = read(fd, piece, sizeof piece);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return true;
        came = true;
        kept.append(piece, std::min(static_cast<size_t>(count), kOutputKept - std::min(kept.size(), kOutputKept)));
    }
}

// A program whose output ended is ending: it gets a second, in real time on
// any clock (a sleep of a fast test clock would pass before it is reaped).
// The child when reaped, 0 when it is still there, -1 on an error.
pid_t reaped_soon(pid_t child, int& status) {
    int idle[2];
    if (pipe2(idle, O_CLOEXEC) != 0) return -1;
    pid_t done = 0;
    for (int pause = 0; pause < kEndingPauses; ++pause) {
        done = waitpid(child, &status, WNOHANG);
        if (done == child || (done < 0 && errno != EINTR)) break;
        wait_readable(idle[0], kEndingPause);
    }
    close(idle[0]);
    close(idle[1]);
    return done < 0 && errno == EINTR ? 0 : done;
}

}  // namespace

LimitedRun run_program_within(const char* const argv[], const char* const extraEnvironment[], uint64_t timeout_us) {
    LimitedRun run;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        run.code = errno;
        return run;
    }
    const pid_t child = start_in_own_group(argv, extraEnvironment, ends[1], run.code);
    close(ends[1]);
    const bool ended = child > 0 && collect_output(ends[0], monotonic_us() + timeout_us, run.output);
    close(ends[0]);
    if (child <= 0) return run;
    int status = 0;
    const pid_t reaped = ended ? reaped_soon(child, status) : 0;
    if (reaped < 0) {
        run.code = errno;
        return run;
    }
    if (reaped == 0) {
        // The group: a script's own children go with it.
        kill(-child, SIGKILL);
        waitpid(child, &status, 0);
        run.end = LimitedRun::End::kTimedOut;
        return run;
    }
    run.end = WIFEXITED(status) ? LimitedRun::End::kExited : LimitedRun::End::kSignalled;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
    return run;
}
