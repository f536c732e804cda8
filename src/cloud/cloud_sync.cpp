#include "cloud/cloud_sync.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "cloud/camera_record.h"
#include "core/cellular_status.h"
#include "cloud/cloud_api.h"
#include "core/config.h"
#include "core/event_log.h"
#include "cloud/sync_bounds.h"
#include "core/time_seam.h"
#include "cloud/transport.h"
#include "mcu/uart.h"

namespace {

constexpr int kBudget = 180;
constexpr uint64_t kFirstRetryUs = 1000000;
constexpr uint64_t kLongestRetryUs = 32000000;

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

enum class Attempt {
    kDone,
    kFailed,
    kFreshTokenRefused,  // a token fetched for this attempt was refused at once
};

Attempt attempt(char* token, int mode) {
    std::memset(token, 0, kTokenSize);
    mcu_send_ack();
    config_getToken(token);
    mcu_send_ack();
    const bool fresh = token[0] == '\0';
    if (fresh && cloud_get_token(token) != 0) return Attempt::kFailed;
    if (cloud_camera_exchange(token, mode) == 0) return Attempt::kDone;
    const long status = http_last_status();
    return fresh && (status == 401 || status == 403) ? Attempt::kFreshTokenRefused : Attempt::kFailed;
}

// A failing service is asked again 1, 2, 4 ... 32 seconds after the last
// attempt began, or later when it asked for a wait of its own; never past
// the end of the sync.
void wait_before_retry(uint64_t startedUs, int failures) {
    const uint64_t gap = std::min(kFirstRetryUs << std::min(failures - 1, 5), kLongestRetryUs);
    const uint64_t elapsed = monotonic_us() - startedUs;
    uint64_t wait = std::max(gap > elapsed ? gap - elapsed : 0, sync_take_retry_wait_us());
    sleep_keeping_alive(std::min(wait, sync_time_left_us()));
}

}  // namespace

int cloud_sync(int mode) {
    char token[kTokenSize] = {};
    McuBusy busy;
    sync_bounds_begin();
    http_init();
    int budget = kBudget;
    int result = -1;
    int failures = 0;
    int freshRefusals = 0;
    for (;;) {
        --budget;
        if (!wait_for_data_call(budget)) break;
        uint64_t started = monotonic_us();
        const Attempt outcome = attempt(token, mode);
        if (outcome == Attempt::kDone) {
            result = 0;
            break;
        }
        freshRefusals = outcome == Attempt::kFreshTokenRefused ? freshRefusals + 1 : 0;
        if (freshRefusals == 2) {
            log_event("token", 2, "Token refused twice");
            break;
        }
        if (budget > 0) wait_before_retry(started, ++failures);
        mcu_send_ack();
        if (budget <= 0 || sync_time_left_us() == 0) break;
    }
    http_cleanup();
    sync_bounds_end();
    return result;
}
