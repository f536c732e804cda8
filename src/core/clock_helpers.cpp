#include "core/clock_helpers.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "core/time_seam.h"

namespace {

constexpr const char* kStampFormat = "%4d-%02d-%02d %02d:%02d:%02d";

std::mutex g_timezoneMutex;

tm local_fields(time_t when) { return clock_local_fields(when); }

// Reads the next field, which must follow a single space; false when it does not.
bool next_field(const char*& cursor, long& value) {
    if (*cursor != ' ') return false;
    char* end = nullptr;
    value = std::strtol(cursor, &end, 10);
    cursor = end;
    return true;
}

bool within(long value, long low, long high) { return value >= low && value <= high; }

int days_in_month(long year, long month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Years up to 9999: a larger number would overflow on its way to a time.
constexpr long kLastYear = 7999;

}  // namespace

time_t clock_now() { return wall_clock_now(); }

void clock_set_timezone(const char* tz) {
    std::lock_guard<std::mutex> lock(g_timezoneMutex);
    setenv("TZ", tz, 1);
    tzset();
}

std::unique_lock<std::mutex> clock_environment_lock() {
    return std::unique_lock<std::mutex>(g_timezoneMutex);
}

tm clock_local_fields(time_t when) {
    std::lock_guard<std::mutex> lock(g_timezoneMutex);
    tm fields{};
    localtime_r(&when, &fields);
    return fields;
}

time_t clock_make_local(tm* fields) {
    std::lock_guard<std::mutex> lock(g_timezoneMutex);
    return mktime(fields);
}

int clock_minutes_between(time_t earlier, time_t later) {
    return static_cast<int>(difftime(later, earlier) / 60.0);
}

int clock_format(time_t when, char* buffer, size_t size) {
    tm f = local_fields(when);
    return std::snprintf(buffer, size, kStampFormat, f.tm_year + 1900, f.tm_mon + 1, f.tm_mday,
                         f.tm_hour, f.tm_min, f.tm_sec);
}

int clock_format_now(char* buffer, size_t size) { return clock_format(clock_now(), buffer, size); }

int clock_iso8601_now(char* buffer, size_t size) {
    tm f = local_fields(clock_now());
    return std::snprintf(buffer, size, "%4d-%02d-%02dT%02d:%02d:%02d.000-00:00", f.tm_year + 1900,
                         f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
}

int clock_fields_now(char* buffer, size_t size) {
    tm f = local_fields(clock_now());
    return std::snprintf(buffer, size, "%d %d %d %d %d %d", f.tm_year + 1900, f.tm_mon + 1,
                         f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
}

int clock_set_from_fields(const char* text) {
    if (text == nullptr) return kClockUnchanged;
    char* end = nullptr;
    const long year = std::strtol(text, &end, 10);
    if (year < 20) return kClockUnchanged;
    const char* cursor = end;
    long month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!next_field(cursor, month) || !next_field(cursor, day) || !next_field(cursor, hour) ||
        !next_field(cursor, minute) || !next_field(cursor, second))
        return kClockUnchanged;
    if (year > kLastYear || !within(month, 1, 12) || !within(day, 1, days_in_month(year, month)) ||
        !within(hour, 0, 23) || !within(minute, 0, 59) || !within(second, 0, 59))
        return kClockOutOfRange;
    tm fields{};
    fields.tm_isdst = 0;
    fields.tm_year = static_cast<int>(year + 2000 - 1900);
    fields.tm_mon = static_cast<int>(month - 1);
    fields.tm_mday = static_cast<int>(day);
    fields.tm_hour = static_cast<int>(hour);
    fields.tm_min = static_cast<int>(minute);
    fields.tm_sec = static_cast<int>(second);
    const time_t when = clock_make_local(&fields);
    if (when == static_cast<time_t>(-1)) return kClockUnchanged;
    return system_clock_set(when) == 0 ? 0 : kClockUnchanged;
}

int file_exists(const char* path) {
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) return 0;
    std::fclose(file);
    return 1;
}

int is_directory(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
}

int remove_tree(const char* path) {
    const auto remove_one = [](const char* item, const struct stat*, int, struct FTW*) { return std::remove(item); };
    return nftw(path, remove_one, 8, FTW_DEPTH | FTW_PHYS);
}

bool read_regular_file(const char* path, size_t limit, std::string& text) {
    // Non-blocking, so a FIFO opens at once and fstat turns it away.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool read_all = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    text.clear();
    char piece[4096];
    while (read_all && text.size() < limit) {
        const ssize_t count = read(fd, piece, std::min(sizeof piece, limit - text.size()));
        if (count <= 0) {
            read_all = count == 0;
            break;
        }
        text.append(piece, static_cast<size_t>(count));
    }
    close(fd);
    return read_all;
}

int celsius_to_fahrenheit(int celsius) { return celsius * 9 / 5 + 32; }
