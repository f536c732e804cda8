#include "core/event_log.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "core/clock_helpers.h"
#include "core/daemon_state.h"
#include "core/device_root.h"

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

// Control characters become blanks and trailing blanks go, so an outside text
// in a message (an AT answer, a name from the cloud, a date from a camera file)
// can neither split an entry nor forge one.
void keep_on_one_line(char* message) {
    size_t end = 0;
    for (size_t i = 0; message[i] != '\0'; ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        if (byte < 0x20 || byte == 0x7F) message[i] = ' ';
        if (message[i] != ' ') end = i + 1;
    }
    message[end] = '\0';
}

}  // namespace

int log_event(const char* tag, int code, const char* format, ...) {
    char message[kLogMessageMax + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    keep_on_one_line(message);
    if (message[0] == '\0') return -1;

    const std::string path = device_path("/media/sdcard/log.txt");
    std::lock_guard<std::mutex> lock(g_state.logMutex);
    FILE* file = std::fopen(path.c_str(), "a+e");
    if (file == nullptr) return -1;
    return append_line(file, tag, code, message) ? 1 : -1;
}
