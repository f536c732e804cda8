#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cellular_status.h"
#include "cloud_sync.h"
#include "config.h"
#include "daemon_state.h"
#include "json_util.h"
#include "pty_pair.h"
#include "test_root.h"
#include "time_seam.h"

namespace {

// A clock that advances only by sleeping, and raises the data call once
// `upAfter` seconds have been slept (0: up from the start).
class DataCallClock final : public TimeSource {
public:
    explicit DataCallClock(uint64_t upAfter) : upAfterUs_(upAfter * 1000000u) {
        raise_when_due();
        time_source_install(this);
    }
    ~DataCallClock() override { time_source_install(nullptr); }
    void sleep_us(uint64_t microseconds) override {
        sleptUs_ += microseconds;
        raise_when_due();
    }
    uint64_t monotonic_us() override { return sleptUs_; }
    int set_system_clock(time_t) override { return 0; }
    uint64_t slept_us() const { return sleptUs_; }

private:
    void raise_when_due() {
        if (sleptUs_ >= upAfterUs_) g_cellular.dataCallUp = 1;
    }
    uint64_t upAfterUs_;
    uint64_t sleptUs_ = 0;
};

size_t count_of(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// The service is unreachable (nothing listens on port 1): every attempt fails at once.
class SyncDriver : public ::testing::Test {
protected:
    void SetUp() override {
        config_reset();
        cellular_status_reset();
        copy_text(g_config.host, sizeof g_config.host, "127.0.0.1:1");
        g_state.mcuFd = mcu.daemon_side();
    }
    void TearDown() override {
        g_state.mcuFd = -1;
        cellular_status_reset();
        config_reset();
    }
    std::string log() { return root.read("/media/sdcard/log.txt"); }

    TestRoot root;
    PtyPair mcu;
};

TEST_F(SyncDriver, WaitsAndAttemptsWithinTheBudget) {
    constexpr uint64_t kNever = 1000000;
    struct Case {
        uint64_t upAfter;
        size_t acks;
        size_t attempts;
    } cases[] = {
        {kNever, 180 + 2 + 1, 1},  // a budget spent on waiting still allows one attempt
        {178, 178 + 2 + 1, 1},
        {179, 179, 0},  // the flag rises exactly as the budget reaches 0
    };
    for (const Case& c : cases) {
        DataCallClock clock(c.upAfter);
        cellular_status_reset();
        root.write("/media/sdcard/log.txt", "");
        EXPECT_EQ(cloud_sync(0), -1) << c.upAfter;
        std::string sent = mcu.drain();
        EXPECT_EQ(sent, std::string(c.acks, '\x06')) << c.upAfter;
        EXPECT_EQ(count_of(log(), ";token;2;Get token failed: Couldn't connect to server"), c.attempts)
            << c.upAfter;
    }
}

TEST_F(SyncDriver, FailingAttemptsAreASecondApart) {
    DataCallClock clock(0);
    EXPECT_EQ(cloud_sync(0), -1);
    EXPECT_EQ(count_of(log(), ";token;2;Get token failed: "), 179u);
    EXPECT_EQ(clock.slept_us(), 179u * 1000000u);
    EXPECT_EQ(mcu.drain().size(), 179u * 3);
}

}  // namespace
