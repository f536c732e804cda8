#include <gtest/gtest.h>

#include <ctime>

#include "clock_helpers.h"
#include "fake_clock.h"
#include "test_root.h"

namespace {

time_t local_time(int year, int month, int day, int hour, int minute, int second) {
    tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    fields.tm_isdst = 0;
    return mktime(&fields);
}

TEST(ClockHelpers, MinutesBetweenTruncateTowardZero) {
    const time_t t = 1700000000;
    EXPECT_EQ(clock_minutes_between(t, t + 119), 1);
    EXPECT_EQ(clock_minutes_between(t + 119, t), -1);
    EXPECT_EQ(clock_minutes_between(t, t + 59), 0);
    EXPECT_EQ(clock_minutes_between(t, t + 3600), 60);
}

TEST(ClockHelpers, FormatsLocalTime) {
    ScopedTimeZone tz("UTC0");
    char text[40];
    const time_t when = local_time(2024, 5, 7, 9, 3, 0);
    clock_format(when, text, sizeof text);
    EXPECT_STREQ(text, "2024-05-07 09:03:00");
    EXPECT_EQ(clock_format(when, text, 5), 19);
    EXPECT_STREQ(text, "2024");
    clock_fields_now(text, sizeof text);
    int year = 0, month = 0;
    ASSERT_EQ(std::sscanf(text, "%d %d", &year, &month), 2);
    EXPECT_GE(year, 2024);
    clock_iso8601_now(text, sizeof text);
    EXPECT_EQ(std::string(text).substr(19), ".000-00:00");
    EXPECT_EQ(text[10], 'T');
}

struct SetCase {
    const char* text;
    bool changes;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

TEST(ClockHelpers, SetFromFields) {
    ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    const SetCase cases[] = {
        {" 24 5 7 9 3 0", true, 2024, 5, 7, 9, 3, 0},
        {"24 12 31 23 59 59", true, 2024, 12, 31, 23, 59, 59},
        {" 2024 5 7 9 3 0", true, 4024, 5, 7, 9, 3, 0},  // four digits are not a year
        {" 19 5 7 9 3 0", false},
        {" 24 5 7 9 3", false},
        {" 24 5  7 9 3 0", true, 2024, 5, 7, 9, 3, 0},  // strtol skips the extra blank
        {" 24,5,7,9,3,0", false},
        {"", false},
    };
    for (const auto& c : cases) {
        FakeClock clock;
        clock_set_from_fields(c.text);
        auto settings = clock.clock_settings();
        ASSERT_EQ(settings.size(), c.changes ? 1u : 0u) << c.text;
        if (!c.changes) continue;
        // Daylight saving is taken as not in effect: May in CET is then one hour behind.
        EXPECT_EQ(settings[0], local_time(c.year, c.month, c.day, c.hour, c.minute, c.second))
            << c.text;
    }
}

TEST(ClockHelpers, FahrenheitTruncatesTowardZero) {
    const int cases[][2] = {{-7, 20}, {21, 69}, {0, 32}, {-40, -40}, {100, 212}, {-18, 0}, {-1, 31}};
    for (const auto& c : cases) EXPECT_EQ(celsius_to_fahrenheit(c[0]), c[1]) << c[0];
}

TEST(ClockHelpers, FileAndDirectoryTests) {
    TestRoot root;
    root.write("/etc/file", "x");
    EXPECT_EQ(file_exists(root.path("/etc/file").c_str()), 1);
    EXPECT_EQ(file_exists(root.path("/etc/none").c_str()), 0);
    EXPECT_EQ(is_directory(root.path("/media/sdcard/").c_str()), 1);
    EXPECT_EQ(is_directory(root.path("/etc/file").c_str()), 0);
    EXPECT_EQ(is_directory(root.path("/nowhere").c_str()), 0);
}

}  // namespace
