#include "tests/support/test_root.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "core/device_root.h"
#include "sim/sim_files.h"
#include "tests/support/state_reset.h"

namespace fs = std::filesystem;

TestRoot::TestRoot() {
    char pattern[] = "/tmp/qz_test.XXXXXX";
    root_ = mkdtemp(pattern);
    for (const char* dir : {"/media/sdcard", "/etc", "/usrdata", "/tmp", "/sys/power", "/bin"})
        fs::create_directories(root_ + dir);
    device_root_set(root_);
    daemon_state_reset();
    config_reset();
}

TestRoot::~TestRoot() {
    device_root_set("");
    std::error_code ignored;
    fs::permissions(root_, fs::perms::owner_all, ignored);
    fs::remove_all(root_, ignored);
}

std::string TestRoot::read(const std::string& devicePath) const {
    return sim_read_file(path(devicePath));
}

void TestRoot::write(const std::string& devicePath, const std::string& content) const {
    sim_write_file(path(devicePath), content);
}

size_t count_of(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

bool TestRoot::exists(const std::string& devicePath) const { return fs::exists(path(devicePath)); }

ScopedTimeZone::ScopedTimeZone(const char* tz) {
    tz_.emplace("TZ", tz);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    tz_.reset();
    tzset();
}
