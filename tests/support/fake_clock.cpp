#include "fake_clock.h"

FakeClock::FakeClock() { time_source_install(this); }
FakeClock::~FakeClock() { time_source_install(nullptr); }

void FakeClock::sleep_us(uint64_t microseconds) {
    now_ += microseconds;
    slept_ += microseconds;
}

int FakeClock::set_system_clock(time_t when) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_.push_back(when);
    return 0;
}

std::vector<time_t> FakeClock::clock_settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}
