#pragma once
#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <vector>

#include "time_seam.h"

// A clock whose sleeps return at once and only advance its own time.
// Installed for the lifetime of the object.
class FakeClock final : public TimeSource {
public:
    FakeClock();
    ~FakeClock() override;
    void sleep_us(uint64_t microseconds) override;
    uint64_t monotonic_us() override { return now_.load(); }
    int set_system_clock(time_t when) override;

    uint64_t slept_us() const { return slept_.load(); }
    std::vector<time_t> clock_settings() const;

private:
    std::atomic<uint64_t> now_{1000000};
    std::atomic<uint64_t> slept_{0};
    mutable std::mutex mutex_;
    std::vector<time_t> settings_;
};
