#pragma once
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

#include "core/time_seam.h"

// A clock whose sleeps return at once and only advance its own time.
// Installed for the lifetime of the object.
class FakeClock final : public TimeSource {
public:
    FakeClock();
    ~FakeClock() override;
    void sleep_us(uint64_t microseconds) override;
    uint64_t monotonic_us() override { return now_.load(); }
    int set_system_clock(time_t when) override;
    // Waits in real time for at most a second; a silent descriptor then
    // counts as silent for the whole time on this clock.
    int wait_readable(int fd, uint64_t timeout_us) override;
    // Real wall time unless pinned; a pinned clock moves on with every sleep.
    time_t wall_now() override;
    void pin_wall(time_t when);

    uint64_t slept_us() const { return slept_.load(); }
    // Called after every sleep with the clock's time in seconds (set it before the sleeping starts).
    std::function<void(uint64_t seconds)> on_sleep;
    // Called as every sleep begins, with the clock's time in microseconds.
    std::function<void(uint64_t microseconds)> before_sleep;
    std::vector<time_t> clock_settings() const;

private:
    std::atomic<uint64_t> now_{1000000};
    std::atomic<uint64_t> slept_{0};
    std::atomic<time_t> pinnedWall_{0};
    std::atomic<uint64_t> sleptAtPin_{0};
    mutable std::mutex mutex_;
    std::vector<time_t> settings_;
};
