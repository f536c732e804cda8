#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "core/clock_helpers.h"
#include "tests/support/fake_clock.h"
#include "core/run_command.h"
#include "tests/support/test_root.h"

namespace {

time_t local_time(int year, int month, int day, int hour, int minute, int second) {
    tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return mktime(&fields);
}

TEST(ClockHelpers, MinutesFormatsAndFahrenheit) {
    const time_t t = 1715072580;  // 2024-05-07 09:03:00 UTC
    EXPECT_EQ(clock_minutes_between(t, t + 119), 1);
    EXPECT_EQ(clock_minutes_between(t + 119, t), -1);
    EXPECT_EQ(clock_minutes_between(t, t + 3600), 60);
    ScopedTimeZone tz("UTC0");
    char text[40];
    EXPECT_EQ(clock_format(t, text, 5), 19);
    EXPECT_STREQ(text, "2024");
    clock_format(t, text, sizeof text);
    EXPECT_STREQ(text, "2024-05-07 09:03:00");
    const int degrees[][2] = {{-7, 20}, {21, 69}, {-40, -40}, {-18, 0}, {-1, 31}};
    for (const auto& d : degrees) EXPECT_EQ(celsius_to_fahrenheit(d[0]), d[1]) << d[0];
}

struct SetCase {
    const char* text;
    int result;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

TEST(ClockHelpers, SetFromFields) {
    ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    const SetCase cases[] = {
        {" 24 5 7 9 3 0", 0, 2024, 5, 7, 9, 3, 0},
        {"24 2 29 23 59 59", 0, 2024, 2, 29, 23, 59, 59},
        {" 2024 5 7 9 3 0", 0, 4024, 5, 7, 9, 3, 0},  // four digits are not a year
        {" 24 5  7 9 3 0", 0, 2024, 5, 7, 9, 3, 0},   // strtol skips the extra blank
        {" 19 5 7 9 3 0", kClockUnchanged},
        {" 24 5 7 9 3", kClockUnchanged},
        {" 24,5,7,9,3,0", kClockUnchanged},
        {"", kClockUnchanged},
        {" 4294967320 5 7 9 3 0", kClockOutOfRange},  // 2^32 + 24 would wrap to 2024
        {" 99999999999999999999 5 7 9 3 0", kClockOutOfRange},
        {" 24 13 7 9 3 0", kClockOutOfRange},
        {" 23 2 29 9 3 0", kClockOutOfRange},
        {" 24 5 7 24 0 0", kClockOutOfRange},
        {" 24 5 7 9 -1 0", kClockOutOfRange},
    };
    for (const auto& c : cases) {
        FakeClock clock;
        EXPECT_EQ(clock_set_from_fields(c.text), c.result) << c.text;
        const auto settings = clock.clock_settings();
        ASSERT_EQ(settings.size(), c.result == 0 ? 1u : 0u) << c.text;
        // Daylight saving is taken as not in effect: May in CET is then one hour behind.
        if (c.result == 0) {
            EXPECT_EQ(settings[0], local_time(c.year, c.month, c.day, c.hour, c.minute, c.second))
                << c.text;
        }
    }
}

TEST(ClockHelpers, ShellCommandsAreCutTo255Characters) {
    TestRoot root;
    // Only the first 255 characters of a command run; the redirection comes first.
    const std::string prefix = ">" + root.path("/out") + " printf %s ";
    run_command("%s%s", prefix.c_str(), std::string(300 - prefix.size(), 'a').c_str());
    EXPECT_EQ(root.read("/out"), std::string(255 - prefix.size(), 'a'));
}

}  // namespace
