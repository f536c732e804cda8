#include "at_exchange.h"

#include <cstdint>
#include <cstring>
#include <mutex>

#include "daemon_state.h"
#include "event_log.h"
#include "time_seam.h"
#include "uart.h"

namespace {

constexpr uint64_t kCheckUs = 1000000;
// How often the answer buffer is looked at within a check.
constexpr unsigned kLookMs = 5;

std::mutex g_exchangeMutex;

bool settled(const char* text) {
    return std::strstr(text, "OK") != nullptr || std::strstr(text, "ERROR") != nullptr;
}

// Copies the answer as soon as it holds "OK" or "ERROR", or after a second.
void await_answer(char (&text)[kAtResponseSize + 1]) {
    const uint64_t start = monotonic_us();
    for (;;) {
        at_response_copy(text, sizeof text);
        if (settled(text) || monotonic_us() - start >= kCheckUs) return;
        sleep_milliseconds(kLookMs);
    }
}

}  // namespace

bool at_exchange(const char* command, int checks, char* answer, size_t size) {
    std::lock_guard<std::mutex> lock(g_exchangeMutex);
    log_event("AT", 0, "%s", command);
    at_send(command);
    char text[kAtResponseSize + 1];
    for (int check = 0; check < checks; ++check) {
        await_answer(text);
        if (std::strstr(text, "OK") != nullptr) {
            log_event("AT", 0, "%s", text);
            if (answer != nullptr && size > 0) {
                std::strncpy(answer, text, size - 1);
                answer[size - 1] = '\0';
            }
            return true;
        }
        if (std::strstr(text, "ERROR") != nullptr) {
            log_event("AT", 2, "%s", text);
            log_event("AT", 0, "%s", command);
            at_send(command);
        }
    }
    return false;
}
