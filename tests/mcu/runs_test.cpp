#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/config.h"
#include "core/daemon_state.h"
#include "tests/support/fake_clock.h"
#include "mcu/mcu_protocol.h"
#include "tests/support/pty_pair.h"
#include "tests/support/stand_ins.h"
#include "tests/support/test_root.h"

namespace {

// The transfer command in the MCU thread's own code, with a transfer script
// that fails and a clock that does not make the ten pauses take ten seconds.
class TransferRuns : public ::testing::Test {
protected:
    void SetUp() override {
        g_state.mcuFd = mcu.daemon_side();
        board.script("/usrdata/img_transfer.sh", "exit 1\n");
        board.script("/usrdata/sdcable_mount.sh", "echo mount >> " + root.path("/calls.log") + "\n");
    }
    void TearDown() override { g_state.mcuFd = -1; }
    std::string transfer() {
        mcu_handle_chunk("qz+transfer\r");
        return mcu.drain();
    }

    TestRoot root;
    FakeClock clock;
    PtyPair mcu;
    StandIns board{root, {}};
};

TEST_F(TransferRuns, SevenFailedRunsCountDownAndStartAgain) {
    g_config.sdCableOk = 1;
    const int expected[] = {5, 4, 3, 2, 1, 0, 5};
    for (int run = 0; run < 7; ++run) {
        EXPECT_EQ(transfer(), std::string(10, '\x06') + "0\x04") << run;
        EXPECT_EQ(g_config.remainRetry, expected[run]) << run;
        EXPECT_EQ(g_config.sdCableOk, run < 5 ? 1 : 0) << run;
    }
    EXPECT_EQ(board.calls().size(), 70u);
    EXPECT_GE(clock.slept_us(), 70u * 1000000u);
    // Reaching 0 saved the count with the configuration.
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"remainRetry\": 0"), std::string::npos);
}

TEST_F(TransferRuns, SuccessClearsTheCountAndSaves) {
    g_config.remainRetry = 3;
    board.script("/usrdata/img_transfer.sh", "exit 0\n");
    EXPECT_EQ(transfer(), "1\x04");
    EXPECT_EQ(g_config.remainRetry, 0);
    EXPECT_EQ(g_config.sdCableOk, 1);
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"remainRetry\": 0"), std::string::npos);
    EXPECT_NE(root.log().find(";image;0;Image transfer from SD Cable"), std::string::npos);
}

TEST_F(TransferRuns, WithoutCardNothingIsTried) {
    std::filesystem::remove_all(root.path("/media/sdcard"));
    g_config.remainRetry = 3;
    EXPECT_EQ(transfer(), "0\x04");
    EXPECT_EQ(g_config.remainRetry, 3);
    EXPECT_TRUE(board.calls().empty());
    mcu_handle_chunk("qz+process\r");
    EXPECT_EQ(mcu.drain(), "\x04");
}

}  // namespace
