#pragma once
#include <cstdint>
#include <ctime>

// Every sleep, every monotonic reading and every setting of the system clock
// goes through here, so tests can swap in a clock that advances at once.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual void sleep_us(uint64_t microseconds) = 0;
    virtual uint64_t monotonic_us() = 0;
    // Returns 0 when the clock was set.
    virtual int set_system_clock(time_t when) = 0;
    virtual time_t wall_now() { return time(nullptr); }
    // 1 when fd became readable within the time, 0 after the time, -1 on error.
    virtual int wait_readable(int fd, uint64_t timeout_us);
};

// nullptr puts the real clock back.
void time_source_install(TimeSource* source);

void sleep_seconds(unsigned seconds);
void sleep_milliseconds(unsigned milliseconds);
void sleep_microseconds(uint64_t microseconds);
uint64_t monotonic_us();
// Waits for fd to become readable: 1 readable, 0 timed out, -1 error.
int wait_readable(int fd, uint64_t timeout_us);
int system_clock_set(time_t when);
// Seconds since the epoch; the real clock unless a test pinned it.
time_t wall_clock_now();
