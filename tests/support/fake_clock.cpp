#include "tests/support/fake_clock.h"

FakeClock::FakeClock() { time_source_install(this); }
FakeClock::~FakeClock() { time_source_install(nullptr); }

void FakeClock::sleep_us(uint64_t microseconds) {
    if (before_sleep) before_sleep(now_.load());
    now_ += microseconds;
    slept_ += microseconds;
    if (on_sleep) on_sleep(now_.load() / 1000000);
}

int FakeClock::wait_readable(int fd, uint64_t timeout_us) {
    constexpr uint64_t kRealWaitMax = 1000000;
    int ready = TimeSource::wait_readable(fd, timeout_us < kRealWaitMax ? timeout_us : kRealWaitMax);
    if (ready == 0) now_ += timeout_us;
    return ready;
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

time_t FakeClock::wall_now() {
    time_t pinned = pinnedWall_.load();
    if (pinned == 0) return time(nullptr);
    return pinned + static_cast<time_t>((slept_.load() - sleptAtPin_.load()) / 1000000u);
}

void FakeClock::pin_wall(time_t when) {
    sleptAtPin_ = slept_.load();
    pinnedWall_ = when;
}
