#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "daemon_board.h"
#include "loader_peer.h"
#include "log_report.h"
#include "sim_files.h"
#include "update_package.h"

namespace {

using namespace std::chrono_literals;

const std::string kFirmwareFile = "/usr/share/arduino/hardware/arduino/avr/bootloaders/atmega/ATmegaBOOT_168_atmega328.hex";

TEST(StartupUpdate, APackageIsInstalledTheMcuFlashedAndTheModuleRebootedBeforeAnyRdy) {
    DaemonBoard board(DaemonBoard::fast(10));
    ASSERT_TRUE(update_package_lay(board.root(), {R"({"mcu": {"version": 8}, "modem": {"forceUpdate": true}})",
                                                  sim_read_file(kFirmwareFile)}));
    ASSERT_TRUE(board.start_daemon());
    EXPECT_EQ(board.wait_exit(60s), 0) << board.transcript();
    EXPECT_EQ(board.mcu_received(), "UPD\r\n");
    EXPECT_TRUE(board.read_file("/sim/mcu_flash.bin") == reference_image(kFirmwareFile));
    const auto commands = board.commands_run();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "reboot"), commands.end());
    EXPECT_NE(board.read_file("/media/sdcard/log.txt").find(";main;0;Reboot after update\r\n"), std::string::npos);
    // The log report counts the modem side and the MCU as installed, and the wake as ended by the reboot.
    std::vector<Wake> wakes;
    LogReport report([&](const Wake& wake) { wakes.push_back(wake); });
    ASSERT_TRUE(log_report_file(board.path("/media/sdcard/log.txt").c_str(), report));
    report.finish();
    ASSERT_EQ(wakes.size(), 1u);
    EXPECT_EQ(wakes[0].updates, 2);
    EXPECT_EQ(wakes[0].end, Wake::End::kReboot);
}

}  // namespace
