#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fake_clock.h"
#include "mcu/power.h"
#include "tests/support/stand_ins.h"
#include "tests/support/test_root.h"

namespace {

using Calls = std::vector<std::string>;

TEST(PowerAction, HaltAndRebootRunOnlyOnceTheWakeLockIsTaken) {
    TestRoot root;
    StandIns board(root, {"halt", "reboot"});
    // Each records the wake lock as it finds it.
    for (const char* name : {"halt", "reboot"})
        board.script(std::string("/bin/") + name, std::string("echo \"") + name + " $(cat " +
                                                      root.path("/sys/power/wake_lock") + ")\" >> " +
                                                      root.path("/calls.log") + "\n");
    FakeClock clock;
    power_action(0);
    EXPECT_EQ(board.calls(), (Calls{"halt modem_powerdown"}));
    root.write("/sys/power/wake_lock", "");
    power_action(1);
    power_action(7);
    EXPECT_EQ(board.calls(), (Calls{"halt modem_powerdown", "reboot modem_powerdown"}));
}

}  // namespace
