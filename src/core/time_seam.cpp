#include "core/time_seam.h"

#include <sys/select.h>

#include <atomic>
#include <cerrno>

namespace {

class RealTime final : public TimeSource {
public:
    void sleep_us(uint64_t microseconds) override {
        timespec left{static_cast<time_t>(microseconds / 1000000),
                      static_cast<long>(microseconds % 1000000) * 1000};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
    }
    uint64_t monotonic_us() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint64_t>(now.tv_sec) * 1000000u +
               static_cast<uint64_t>(now.tv_nsec) / 1000u;
    }
    int set_system_clock(time_t when) override {
        timespec ts{when, 0};
        return clock_settime(CLOCK_REALTIME, &ts);
    }
};

// Never destroyed: exit() runs while other threads may still be sleeping on it.
RealTime& real_time() {
    static RealTime* real = new RealTime;
    return *real;
}
std::atomic<TimeSource*> g_source{&real_time()};

}  // namespace

int TimeSource::wait_readable(int fd, uint64_t timeout_us) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval timeout{static_cast<time_t>(timeout_us / 1000000u),
                    static_cast<suseconds_t>(timeout_us % 1000000u)};
    int ready = select(fd + 1, &set, nullptr, nullptr, &timeout);
    return ready < 0 ? -1 : (ready > 0 ? 1 : 0);
}

void time_source_install(TimeSource* source) { g_source.store(source ? source : &real_time()); }

void sleep_microseconds(uint64_t microseconds) { g_source.load()->sleep_us(microseconds); }
void sleep_milliseconds(unsigned milliseconds) { sleep_microseconds(uint64_t{milliseconds} * 1000u); }
void sleep_seconds(unsigned seconds) { sleep_microseconds(uint64_t{seconds} * 1000000u); }
uint64_t monotonic_us() { return g_source.load()->monotonic_us(); }
int wait_readable(int fd, uint64_t timeout_us) { return g_source.load()->wait_readable(fd, timeout_us); }
int system_clock_set(time_t when) { return g_source.load()->set_system_clock(when); }
time_t wall_clock_now() { return g_source.load()->wall_now(); }
