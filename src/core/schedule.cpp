#include "core/schedule.h"

#include <ctime>

#include "core/clock_helpers.h"
#include "core/config.h"
#include "core/json_util.h"

namespace {

constexpr int kDay = 86400;
// More than 24 transmissions a day would give a period of 0 and a grid that never advances.
constexpr int kShortestPeriod = 3600;
constexpr int kEarlyRetry = 300;
constexpr int kEachWindowMinutes = 15;

// "transmitFreq" of the applied configuration; false when missing.
bool transmit_frequency(int64_t& frequency) {
    return json_member_int(config_applied(), "transmitFreq", frequency);
}

time_t today_at(time_t now, int hour, int minute) {
    tm fields = clock_local_fields(now);
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = 0;
    fields.tm_isdst = -1;
    return clock_make_local(&fields);
}

}  // namespace

int sync_period() {
    int64_t frequency = 0;
    if (!transmit_frequency(frequency) || frequency <= 0) return kDay;
    int64_t period = (24 / frequency) * 3600;
    return period < kShortestPeriod ? kShortestPeriod : static_cast<int>(period);
}

void next_sync_time(int* hour, int* minute) {
    const int period = sync_period();
    const time_t now = clock_now();
    const int firstHour = config_getFirstSyncHour();
    const int firstMinute = config_getFirstSyncMinute();
    time_t candidate = today_at(now, firstHour, firstMinute) - kDay;
    // The first slot strictly after now, stepped arithmetically so that any stored hour is cheap.
    if (now >= candidate) candidate += ((now - candidate) / period + 1) * period;
    if (config_getRemainRetry() > 0 && clock_minutes_between(clock_now(), candidate) > 5)
        candidate = clock_now() + kEarlyRetry;
    const tm fields = clock_local_fields(candidate);
    *hour = fields.tm_hour;
    *minute = fields.tm_min;
}

int is_each() {
    const time_t start = g_config.powerOnTime > 0 ? g_config.powerOnTime : clock_now();
    if (clock_minutes_between(start, clock_now()) < kEachWindowMinutes) return 1;
    int64_t frequency = 0;
    if (!transmit_frequency(frequency)) return 1;
    return frequency == 0 ? 1 : 0;
}
