#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "device_root.h"
#include "fake_clock.h"
#include "power.h"
#include "test_root.h"

namespace {

// Installs recorder stand-ins for halt and reboot and makes the root's bin/ come first in PATH.
class PowerAction : public ::testing::Test {
protected:
    void SetUp() override {
        oldPath_ = std::getenv("PATH");
        for (const char* name : {"halt", "reboot"}) {
            root.write(std::string("/bin/") + name,
                       std::string("#!/bin/sh\necho ") + name + " >> " + root.path("/commands.log") + "\n");
            chmod(root.path(std::string("/bin/") + name).c_str(), 0755);
        }
        setenv("QZ_ROOT", root.root().c_str(), 1);
        device_root_init();
        unsetenv("QZ_ROOT");
        // Never let this test reach the host's own halt.
        ASSERT_EQ(resolve("halt"), root.path("/bin/halt"));
        ASSERT_EQ(resolve("reboot"), root.path("/bin/reboot"));
    }
    void TearDown() override { setenv("PATH", oldPath_.c_str(), 1); }

    static std::string resolve(const char* name) {
        std::string command = std::string("command -v ") + name;
        FILE* pipe = popen(command.c_str(), "r");
        char line[512] = {};
        if (pipe == nullptr) return {};
        if (std::fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
        pclose(pipe);
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return text;
    }

    TestRoot root;
    FakeClock clock;
    std::string oldPath_;
};

TEST_F(PowerAction, HaltAndRebootTakeTheWakeLockFirst) {
    power_action(0);
    EXPECT_EQ(root.read("/sys/power/wake_lock"), "modem_powerdown\n");
    EXPECT_EQ(root.read("/commands.log"), "halt\n");
    power_action(1);
    EXPECT_EQ(root.read("/commands.log"), "halt\nreboot\n");
    power_action(7);
    EXPECT_EQ(root.read("/commands.log"), "halt\nreboot\n");
    EXPECT_GE(clock.slept_us(), 600u);
}

TEST_F(PowerAction, RunCommandRunsOnlyTheFirst255Characters) {
    // The redirection comes first so that the cut falls inside the printed text.
    std::string prefix = ">" + root.path("/out") + " printf %s ";
    std::string text(300 - prefix.size(), 'a');
    run_command("%s%s", prefix.c_str(), text.c_str());
    EXPECT_EQ(root.read("/out"), std::string(255 - prefix.size(), 'a'));

    std::string late = std::string(260, ' ') + "; touch " + root.path("/late");
    run_command("true%s", late.c_str());
    EXPECT_FALSE(root.exists("/late"));
}

}  // namespace
