#include "cloud/sync_bounds.h"

#include <algorithm>
#include <utility>

#include "core/event_log.h"
#include "core/time_seam.h"
#include "mcu/uart.h"

namespace {

constexpr uint64_t kSecondUs = 1000000;
constexpr uint64_t kAfterProgressUs = 180 * kSecondUs;
constexpr uint64_t kWholeSyncUs = 15 * 60 * kSecondUs;
constexpr int64_t kSimWaitMinutes = 60;

struct Bounds {
    bool running = false;
    bool over = false;  // the service asked for a wait beyond the bounds
    uint64_t startUs = 0;
    uint64_t progressUs = 0;
    uint64_t earlierProgressUs = 0;
    uint64_t retryWaitUs = 0;
    int64_t simMinutesLeft = kSimWaitMinutes;
    bool tokenSaved = false;
};
Bounds g_bounds;

bool accepted(long status) { return status >= 200 && status <= 299; }

}  // namespace

void sync_bounds_begin() {
    g_bounds = Bounds{};
    g_bounds.running = true;
    g_bounds.startUs = g_bounds.progressUs = g_bounds.earlierProgressUs = monotonic_us();
}

void sync_bounds_end() { g_bounds.running = false; }

uint64_t sync_time_left_us() {
    if (!g_bounds.running) return UINT64_MAX;
    if (g_bounds.over) return 0;
    const uint64_t end =
        std::min(g_bounds.progressUs + kAfterProgressUs, g_bounds.startUs + kWholeSyncUs);
    const uint64_t now = monotonic_us();
    return now < end ? end - now : 0;
}

void sync_note_answer(long status, int64_t retryAfterSeconds, const char* retryAfterText) {
    if (!g_bounds.running) return;
    if (accepted(status))
        g_bounds.earlierProgressUs = std::exchange(g_bounds.progressUs, monotonic_us());
    if ((status != 503 && status != 429) || retryAfterSeconds <= 0) return;
    const auto wait = static_cast<uint64_t>(retryAfterSeconds);
    if (wait < sync_time_left_us() / kSecondUs) {
        g_bounds.retryWaitUs = wait * kSecondUs;
        return;
    }
    log_event("sync", 1, "Service busy, retry after %s", retryAfterText);
    g_bounds.over = true;
}

void sync_answer_unusable() { g_bounds.progressUs = g_bounds.earlierProgressUs; }

uint64_t sync_take_retry_wait_us() { return std::exchange(g_bounds.retryWaitUs, 0); }

int64_t sync_take_sim_wait_minutes(int64_t asked) {
    const int64_t granted = std::min(asked, g_bounds.simMinutesLeft);
    g_bounds.simMinutesLeft -= std::max<int64_t>(granted, 0);
    return granted;
}

void sync_pause(uint64_t microseconds) {
    sleep_keeping_alive(microseconds);
    g_bounds.startUs += microseconds;
    g_bounds.progressUs += microseconds;
    g_bounds.earlierProgressUs += microseconds;
}

bool sync_token_save_due() {
    if (!g_bounds.running) return true;
    return !std::exchange(g_bounds.tokenSaved, true);
}
