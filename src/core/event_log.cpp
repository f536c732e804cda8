#include "event_log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "clock_helpers.h"
#include "daemon_state.h"
#include "device_root.h"

namespace {

// Appends the line and flushes the whole card, as running "sync" would,
// without a child process. False when any step failed (a full or read-only card).
bool append_line(FILE* file, const char* tag, int code, const char* message) {
    char stamp[30];
    clock_format_now(stamp, sizeof stamp);
    bool written = std::fprintf(file, "%s;%s;%d;%s\r\n", stamp, tag, code, message) > 0;
    written = std::fflush(file) == 0 && written;
    written = syncfs(fileno(file)) == 0 && written;
    return std::fclose(file) == 0 && written;
}

}  // namespace

int log_event(const char* tag, int code, const char* format, ...) {
    char message[kLogMessageMax + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (message[0] == '\0') return -1;

    const std::string path = device_path("/media/sdcard/log.txt");
    std::lock_guard<std::mutex> lock(g_state.logMutex);
    FILE* file = std::fopen(path.c_str(), "a+e");
    if (file == nullptr) return -1;
    return append_line(file, tag, code, message) ? 1 : -1;
}
