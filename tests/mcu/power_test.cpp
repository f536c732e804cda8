#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_clock.h"
#include "power.h"
#include "run_command.h"
#include "stand_ins.h"
#include "test_root.h"

namespace {

using Calls = std::vector<std::string>;

TEST(PowerAction, HaltAndRebootTakeTheWakeLockFirst) {
    TestRoot root;
    StandIns board(root, {"halt", "reboot"});
    FakeClock clock;
    power_action(0);
    EXPECT_EQ(root.read("/sys/power/wake_lock"), "modem_powerdown\n");
    EXPECT_EQ(board.calls(), (Calls{"halt"}));
    power_action(1);
    EXPECT_EQ(board.calls(), (Calls{"halt", "reboot"}));
    power_action(7);
    EXPECT_EQ(board.calls(), (Calls{"halt", "reboot"}));
    EXPECT_GE(clock.slept_us(), 600u);
}

TEST(PowerAction, RunCommandRunsOnlyTheFirst255Characters) {
    TestRoot root;
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
