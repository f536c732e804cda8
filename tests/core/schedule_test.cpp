#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "config.h"
#include "fake_clock.h"
#include "schedule.h"
#include "state_reset.h"
#include "test_root.h"

namespace {

class Schedule : public ::testing::Test {
protected:
    void SetUp() override { config_reset(); }
    void TearDown() override { config_reset(); }

    // Pins "now" to 7 May 2024 at the given local time.
    void now_at(int hour, int minute, int second = 0) {
        tm fields{};
        fields.tm_year = 124;
        fields.tm_mon = 4;
        fields.tm_mday = 7;
        fields.tm_hour = hour;
        fields.tm_min = minute;
        fields.tm_sec = second;
        fields.tm_isdst = -1;
        clock.pin_wall(mktime(&fields));
    }
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
    const int cases[][2] = {{0, 86400}, {-3, 86400}, {1, 86400}, {2, 43200}, {5, 14400},
                            {7, 10800}, {24, 3600},  {25, 3600}, {1000, 3600}};
    for (const auto& c : cases) {
        config_apply(("{\"transmitFreq\": " + std::to_string(c[0]) + "}").c_str());
        EXPECT_EQ(sync_period(), c[1]) << c[0];
    }
}

TEST_F(Schedule, WithoutAppliedConfigTheStoredTimeIsUsedAndLogged) {
    g_config.firstSyncHour = 6;
    now_at(10, 0);
    EXPECT_EQ(next(), HM(6, 0));
    EXPECT_EQ(is_each(), 1);
    std::string log = root.read("/media/sdcard/log.txt");
    EXPECT_NE(log.find(";config;1;config_getFirstSyncHour - hour object not found"), std::string::npos);
    EXPECT_NE(log.find(";config;1;config_getFirstSyncMinute - minute object not found"), std::string::npos);
}

struct GridCase {
    int frequency, firstHour, firstMinute, nowHour, nowMinute;
    HM expected;
};

TEST_F(Schedule, GridAnchoredOnYesterdaysFirstSync) {
    const GridCase cases[] = {
        {4, 8, 15, 8, 15, {14, 15}},   // a slot equal to now is passed over
        {3, 22, 0, 1, 0, {6, 0}},      // 22:00, 06:00, 14:00 across midnight
        {5, 7, 30, 23, 40, {3, 30}},   // every 4 hours, not 4.8: ... 23:30, 03:30
        {5, 7, 30, 12, 0, {15, 30}},
        {1, 7, 30, 7, 29, {7, 30}},
        {24, 0, 10, 13, 20, {14, 10}},
        {25, 0, 10, 13, 20, {14, 10}},  // more than 24 a day counts as hourly
    };
    for (const auto& c : cases) {
        apply(c.frequency, c.firstHour, c.firstMinute);
        now_at(c.nowHour, c.nowMinute);
        EXPECT_EQ(next(), c.expected) << c.frequency << " " << c.firstHour << ":" << c.firstMinute
                                      << " at " << c.nowHour << ":" << c.nowMinute;
    }
}

TEST_F(Schedule, FailingCableBringsTheNextSyncForward) {
    g_config.remainRetry = 2;
    apply(1, 14, 0);
    now_at(10, 0);
    EXPECT_EQ(next(), HM(10, 5));
    now_at(13, 57);
    EXPECT_EQ(next(), HM(14, 0));
}

TEST_F(Schedule, EachDuringFirstQuarterHourOrWhenFrequencyIsZero) {
    now_at(12, 0);
    const time_t now = wall_clock_now();
    config_apply("{\"transmitFreq\": 6}");
    g_config.powerOnTime = static_cast<int32_t>(now - 10 * 60);
    EXPECT_EQ(is_each(), 1);
    g_config.powerOnTime = static_cast<int32_t>(now - 20 * 60);
    EXPECT_EQ(is_each(), 0);
    config_apply("{\"transmitFreq\": 0}");
    EXPECT_EQ(is_each(), 1);
    config_apply("{\"transmitFreq\": \"6\"}");
    EXPECT_EQ(is_each(), 1);
    g_config.powerOnTime = 0;
    config_apply("{\"transmitFreq\": 6}");
    EXPECT_EQ(is_each(), 1);
}

TEST_F(Schedule, AbsurdStoredHourStillGivesATime) {
    apply(1, -2000000000, 0);
    now_at(9, 0);
    auto slot = next();
    EXPECT_GE(slot.first, 0);
    EXPECT_LT(slot.first, 24);
}

}  // namespace
