#pragma once
#include <optional>
#include <string>

#include "tests/support/scoped_env.h"

// A fresh device root for one test: /media/sdcard, /etc, /usrdata, /tmp exist.
// Installed as the device root for the object's lifetime, then removed. The
// daemon's state and configuration start from their reset values with it.
class TestRoot {
public:
    TestRoot();
    ~TestRoot();
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& devicePath) const { return root_ + devicePath; }
    std::string read(const std::string& devicePath) const;
    void write(const std::string& devicePath, const std::string& content) const;
    bool exists(const std::string& devicePath) const;
    // The daemon's event log on the card.
    std::string log() const { return read("/media/sdcard/log.txt"); }

private:
    std::string root_;
};

// How many times `needle` occurs in `text` (overlaps counted).
size_t count_of(const std::string& text, const std::string& needle);

// A TZ for the test's lifetime (results that depend on local time fix it).
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz);
    ~ScopedTimeZone();

private:
    std::optional<ScopedEnv> tz_;
};
