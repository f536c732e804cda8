#pragma once
#include <string>
#include <vector>

#include "tests/support/scoped_env.h"
#include "tests/support/test_root.h"

// Recorder stand-ins for the board's commands in the test root's bin/, put
// first in PATH for the object's lifetime. Each records "<name> <arguments>".
// Construction fails the test if a name would still reach the host's program.
class StandIns {
public:
    StandIns(const TestRoot& root, const std::vector<std::string>& names);
    StandIns(const StandIns&) = delete;
    StandIns& operator=(const StandIns&) = delete;

    // Writes an executable script at a device path (for device scripts under /usrdata).
    void script(const std::string& devicePath, const std::string& body) const;
    std::vector<std::string> calls() const;

private:
    const TestRoot& root_;
    ScopedEnv path_;
};
