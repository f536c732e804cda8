#pragma once
#include <cstddef>
#include <ctime>
#include <mutex>
#include <string>

time_t clock_now();
// Local time follows a TZ that the cellular thread sets while other threads
// format times: every change and every local-time conversion goes through
// these three, under one lock.
void clock_set_timezone(const char* tz);
struct tm clock_local_fields(time_t when);
time_t clock_make_local(struct tm* fields);
// Setting TZ rewrites the environment that a program being started reads:
// starting one holds this lock, the same one.
std::unique_lock<std::mutex> clock_environment_lock();
// (later - earlier) / 60, truncated toward zero.
int clock_minutes_between(time_t earlier, time_t later);
// "YYYY-MM-DD hh:mm:ss" in local time.
int clock_format(time_t when, char* buffer, size_t size);
int clock_format_now(char* buffer, size_t size);
// "YYYY-MM-DDThh:mm:ss.000-00:00" in local time.
int clock_iso8601_now(char* buffer, size_t size);
// "2024 5 7 9 3 0": the MCU's date and time answer.
int clock_fields_now(char* buffer, size_t size);
// Sets the system clock from " yy mm dd hh mm ss" (two-digit year, at least 20).
// 0 when set; kClockUnchanged for too few fields, a year below 20 or a time
// the clock cannot take; kClockOutOfRange for a field outside its calendar range.
int clock_set_from_fields(const char* text);
constexpr int kClockUnchanged = -1;
constexpr int kClockOutOfRange = -2;

int file_exists(const char* path);
int is_directory(const char* path);
// Removes what the path names without following links: a file, a link, a
// FIFO or device node, or a folder with everything in it. 0 when removed.
int remove_tree(const char* path);
// Reads at most `limit` bytes of a regular file into `text`. A link, folder,
// FIFO or device is never opened for reading (so never waited on); false for
// those, a missing file and a read error.
bool read_regular_file(const char* path, size_t limit, std::string& text);
int celsius_to_fahrenheit(int celsius);
