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

// Flushes the whole card, as running "sync" would, without a child process.
void flush_card(FILE* file) {
    std::fflush(file);
    syncfs(fileno(file));
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
    FILE* file = std::fopen(path.c_str(), "a+");
    if (file == nullptr) return -1;
    char stamp[30];
    clock_format_now(stamp, sizeof stamp);
    std::fprintf(file, "%s;%s;%d;%s\r\n", stamp, tag, code, message);
    flush_card(file);
    std::fclose(file);
    return 1;
}
