#include "cellular/at_exchange.h"

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "core/daemon_state.h"
#include "core/event_log.h"
#include "core/time_seam.h"
#include "mcu/uart.h"

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
        mcu_keep_alive();
    }
}

void wait_until(uint64_t when) {
    while (monotonic_us() < when) {
        sleep_milliseconds(kLookMs);
        mcu_keep_alive();
    }
}

// The same error answer, again and again: logged when it first comes, and
// with its count when the run ends.
class ErrorRun {
public:
    // True when the answer starts a new run.
    bool add(const char* answer) {
        if (count_ > 0 && text_ == answer) {
            ++count_;
            return false;
        }
        end();
        text_ = answer;
        count_ = 1;
        return true;
    }
    void end() {
        const size_t from = text_.find_first_not_of(" \r\n");
        if (count_ > 1 && from != std::string::npos)
            log_event("AT", 2, "Same error %d times: %s", count_,
                      text_.substr(from, text_.find_last_not_of(" \r\n") + 1 - from).c_str());
        count_ = 0;
    }

private:
    std::string text_;
    int count_ = 0;
};

}  // namespace

bool at_exchange(const char* command, int checks, char* answer, size_t size) {
    std::lock_guard<std::mutex> lock(g_exchangeMutex);
    log_event("AT", 0, "%s", command);
    at_send(command);
    uint64_t sentUs = monotonic_us();
    char text[kAtResponseSize + 1];
    ErrorRun errors;
    for (int check = 0; check < checks; ++check) {
        await_answer(text);
        if (std::strstr(text, "OK") != nullptr) {
            errors.end();
            log_event("AT", 0, "%s", text);
            if (answer != nullptr && size > 0) {
                std::strncpy(answer, text, size - 1);
                answer[size - 1] = '\0';
            }
            return true;
        }
        if (std::strstr(text, "ERROR") == nullptr) continue;
        const bool newRun = errors.add(text);
        if (newRun) log_event("AT", 2, "%s", text);
        if (check + 1 == checks) break;
        // A modem that refuses at once is not asked again sooner than a second later.
        wait_until(sentUs + kCheckUs);
        if (newRun) log_event("AT", 0, "%s", command);
        at_send(command);
        sentUs = monotonic_us();
    }
    errors.end();
    return false;
}
