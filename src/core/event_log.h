#pragma once

// One line "date time;tag;code;message\r\n" appended to /media/sdcard/log.txt.
// Codes: 0 information, 1 recoverable problem, 2 failure.
// Returns 1 when the line was written, -1 when not (empty message, no card).
int log_event(const char* tag, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Longest message kept; longer ones are cut.
constexpr int kLogMessageMax = 1023;
