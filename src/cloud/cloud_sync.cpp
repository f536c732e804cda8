#include "cloud_sync.h"

#include <cstdint>
#include <cstring>

#include "camera_record.h"
#include "cellular_status.h"
#include "cloud_api.h"
#include "config.h"
#include "time_seam.h"
#include "transport.h"
#include "uart.h"

namespace {

constexpr int kBudget = 180;
constexpr uint64_t kAttemptSpacingUs = 1000000;

// Waits for the data call, one count and one keep-alive byte per second.
// Returns false when the flag rose just as the budget ran out: no attempt then.
bool wait_for_data_call(int& budget) {
    while (g_cellular.dataCallUp.load() == 0) {
        --budget;
        sleep_seconds(1);
        mcu_send_ack();
        // A budget spent entirely on waiting still allows one attempt.
        if (budget == -1) return true;
    }
    return budget != 0;
}

int attempt(char* token, int mode) {
    std::memset(token, 0, kTokenSize);
    mcu_send_ack();
    config_getToken(token);
    mcu_send_ack();
    if (token[0] == '\0' && cloud_get_token(token) != 0) return -1;
    return cloud_camera_exchange(token, mode);
}

// A service that fails at once must not be asked 180 times a second.
void space_attempts(uint64_t startedUs) {
    uint64_t elapsed = monotonic_us() - startedUs;
    if (elapsed < kAttemptSpacingUs) sleep_microseconds(kAttemptSpacingUs - elapsed);
}

}  // namespace

int cloud_sync(int mode) {
    char token[kTokenSize] = {};
    http_init();
    int budget = kBudget;
    int result = -1;
    for (;;) {
        --budget;
        if (!wait_for_data_call(budget)) break;
        uint64_t started = monotonic_us();
        if (attempt(token, mode) == 0) {
            result = 0;
            break;
        }
        if (budget > 0) space_attempts(started);
        mcu_send_ack();
        if (budget <= 0) break;
    }
    http_cleanup();
    return result;
}
