#pragma once

// One line "date time;tag;code;message\r\n" appended to /media/sdcard/log.txt.
// Codes: 0 information, 1 recoverable problem, 2 failure. Control characters in
// the message are written as blanks and trailing blanks are dropped.
// Returns 1 when the line was written, -1 when not (nothing left to say, no card).
int log_event(const char* tag, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Longest message kept; longer ones are cut.
constexpr int kLogMessageMax = 1023;
