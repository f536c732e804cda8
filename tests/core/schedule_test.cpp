#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "core/config.h"
#include "tests/support/fake_clock.h"
#include "core/schedule.h"
#include "tests/support/test_root.h"

namespace {

constexpr int32_t kMay7 = 1715032800;  // 2024-05-07 00:00 CEST

class Schedule : public ::testing::Test {
protected:
    // Pins "now" to 7 May 2024 at the given local time (CEST).
    void now_at(int hour, int minute) { clock.pin_wall(kMay7 + hour * 3600 + minute * 60); }
    std::pair<int, int> next() {
        int hour = -1, minute = -1;
        next_sync_time(&hour, &minute);
        return {hour, minute};
    }
    void apply(int frequency, int hour, int minute) {
        std::string text = "{\"transmitFreq\": " + std::to_string(frequency) +
                           ", \"transmitTime\": {\"hour\": " + std::to_string(hour) +
                           ", \"minute\": " + std::to_string(minute) + "}}";
        config_apply(text.c_str());
    }

    TestRoot root;
    ScopedTimeZone tz{"CET-1CEST,M3.5.0,M10.5.0/3"};
    FakeClock clock;
};

using HM = std::pair<int, int>;

TEST_F(Schedule, PeriodFromTransmitFrequency) {
    EXPECT_EQ(sync_period(), 86400);
    const int cases[][2] = {{0, 86400}, {2, 43200}, {7, 10800}, {24, 3600}, {1000, 3600}};
    for (const auto& c : cases) {
        config_apply(("{\"transmitFreq\": " + std::to_string(c[0]) + "}").c_str());
        EXPECT_EQ(sync_period(), c[1]) << c[0];
    }
}

struct GridCase {
    int frequency, firstHour, firstMinute, nowHour, nowMinute;
    HM expected;
    int remainRetry = 0;  // a failing cable brings a slot more than 5 minutes away forward
};

TEST_F(Schedule, GridAnchoredOnYesterdaysFirstSync) {
    const GridCase cases[] = {
        {4, 8, 15, 8, 15, {14, 15}},   // a slot equal to now is passed over
        {3, 22, 0, 1, 0, {6, 0}},      // 22:00, 06:00, 14:00 across midnight
        {5, 7, 30, 23, 40, {3, 30}},   // every 4 hours, not 4.8: ... 23:30, 03:30
        {5, 7, 30, 12, 0, {15, 30}},
        {1, 7, 30, 7, 29, {7, 30}},
        {24, 0, 10, 13, 20, {14, 10}},
        {1, 14, 0, 10, 0, {10, 5}, 2},
        {1, 14, 0, 13, 57, {14, 0}, 2},
    };
    for (const auto& c : cases) {
        g_config.remainRetry = c.remainRetry;
        apply(c.frequency, c.firstHour, c.firstMinute);
        now_at(c.nowHour, c.nowMinute);
        EXPECT_EQ(next(), c.expected) << c.frequency << " " << c.firstHour << ":" << c.firstMinute
                                      << " at " << c.nowHour << ":" << c.nowMinute;
    }
}

TEST_F(Schedule, EachDuringFirstQuarterHourOrWhenFrequencyIsZero) {
    now_at(12, 0);
    // (transmitFreq, minutes since power-on or -1 for no power-on time, each)
    const std::tuple<const char*, int, int> cases[] = {
        {"6", 10, 1}, {"6", 20, 0}, {"0", 20, 1}, {"\"6\"", 20, 1}, {"6", -1, 1}};
    for (const auto& [frequency, minutes, each] : cases) {
        config_apply((std::string("{\"transmitFreq\": ") + frequency + "}").c_str());
        g_config.powerOnTime = minutes < 0 ? 0 : kMay7 + 12 * 3600 - minutes * 60;
        EXPECT_EQ(is_each(), each) << frequency << " " << minutes;
    }
}

TEST_F(Schedule, AbsurdStoredHourStillGivesATime) {
    apply(1, -2000000000, 0);
    now_at(9, 0);
    auto slot = next();
    EXPECT_GE(slot.first, 0);
    EXPECT_LT(slot.first, 24);
}

}  // namespace
