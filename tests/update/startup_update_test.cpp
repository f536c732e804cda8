#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "daemon_board.h"
#include "loader_peer.h"
#include "sim_files.h"
#include "update_package.h"

namespace {

using namespace std::chrono_literals;

const std::string kFirmwareFile = "/usr/share/arduino/hardware/arduino/avr/bootloaders/atmega/ATmegaBOOT_168_atmega328.hex";

bool ran(const SimBoard& board, const std::string& command) {
    auto commands = board.commands_run();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

TEST(StartupUpdate, APackageIsInstalledTheMcuFlashedAndTheModuleRebootedBeforeAnyRdy) {
    SimBoard::Options options;
    options.clockSpeed = 10;
    DaemonBoard board(options);
    ASSERT_TRUE(update_package_lay(board.root(), {R"({"mcu": {"version": 8}, "modem": {"forceUpdate": true}})",
                                                  sim_read_file(kFirmwareFile)}));
    ASSERT_TRUE(board.start_daemon());
    EXPECT_EQ(board.wait_exit(60s), 0) << board.transcript();
    EXPECT_EQ(board.mcu_received(), "UPD\r\n");
    EXPECT_TRUE(board.read_file("/sim/mcu_flash.bin") == reference_image(kFirmwareFile));
    EXPECT_TRUE(ran(board, "post_update_script.sh"));
    EXPECT_TRUE(ran(board, "reboot"));
    EXPECT_EQ(board.read_file("/usrdata/release.txt"), "installed by the update package\n");
    EXPECT_EQ(board.read_file("/media/sdcard/update.tar.gz"), "");
    EXPECT_NE(board.read_file("/media/sdcard/log.txt").find(";main;0;Reboot after update\r\n"), std::string::npos);
}

TEST(StartupUpdate, StateAnswersTwoWhileTheUpdateBitIsSet) {
    SimBoard::Options options;
    options.clockSpeed = 10;
    DaemonBoard board(options);
    sim_write_file(board.path("/etc/qz_daemon_conf.json"), R"({"requestUpdateReset": 5})");
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    size_t from = board.mcu_received().size();
    board.mcu_send("qz+state\r");
    EXPECT_EQ(board.mcu_answer(from, 5s), "2\x04") << board.transcript();
    EXPECT_FALSE(ran(board, "reboot"));
}

}  // namespace
