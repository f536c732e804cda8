#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tests/support/daemon_board.h"
#include "tests/update/loader_peer.h"
#include "tools/logreport/log_report.h"
#include "sim/sim_files.h"
#include "sim/update_package.h"

namespace {

using namespace std::chrono_literals;

const std::string kFirmwareFile = "/usr/share/arduino/hardware/arduino/avr/bootloaders/atmega/ATmegaBOOT_168_atmega328.hex";
const char* const kBothParts = R"({"mcu": {"version": 8}, "modem": {"forceUpdate": true}})";

TEST(StartupUpdate, APackageIsInstalledTheMcuFlashedAndTheModuleRebootedBeforeAnyRdy) {
    DaemonBoard board(DaemonBoard::fast(10));
    ASSERT_TRUE(update_package_lay(board.root(), {kBothParts, sim_read_file(kFirmwareFile)}));
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

// A firmware or script member that is a folder, FIFO or link, or such a
// firmware file left in /usrdata/ by anything: start-up goes on to "RDY"
// without entering the MCU's loader, and nothing of it stays behind; neither
// does a modem package download cut short.
TEST(StartupUpdate, AFirmwareOrScriptThatIsNoRegularFileNeverStopsStartUp) {
    enum class Odd { kFolder, kFifo, kLink };
    struct Case {
        const char* name;
        const char* member;
        Odd odd;
        bool inPackage;
    };
    const Case cases[] = {
        {"firmware folder member", "torvex-c1.a87", Odd::kFolder, true},
        {"script folder member", "post_update_script.sh", Odd::kFolder, true},
        {"firmware folder left", "torvex-c1.a87", Odd::kFolder, false},
        {"firmware FIFO left", "torvex-c1.a87", Odd::kFifo, false},
        {"firmware link left", "torvex-c1.a87", Odd::kLink, false},
    };
    const std::string firmware = sim_read_file(kFirmwareFile);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DaemonBoard board(DaemonBoard::fast(10));
        const std::string odd = board.path(c.inPackage ? "/sim/package/" : "/usrdata/") + c.member;
        const std::string target = board.path("/sim/target");
        const std::string package = board.path("/media/sdcard/update.tar.gz");
        bool laid = !c.inPackage || update_package_lay(board.root(), {kBothParts, firmware});
        sim_write_file(target, firmware);
        std::filesystem::remove(odd);
        if (c.odd == Odd::kFolder) sim_write_file(odd + "/inner", firmware);
        if (c.odd == Odd::kFifo) laid = laid && mkfifo(odd.c_str(), 0644) == 0;
        if (c.odd == Odd::kLink) laid = laid && symlink(target.c_str(), odd.c_str()) == 0;
        const std::string tar = "tar -czf " + package + " -C " + board.path("/sim/package") +
                                " manifest.json post_update_script.sh release.txt torvex-c1.a87";
        if (c.inPackage) laid = laid && std::system(tar.c_str()) == 0;
        ASSERT_TRUE(laid);
        sim_write_file(board.path("/usrdata/cache/fota/.qz-cut123.tmp"), "half a download");

        ASSERT_TRUE(board.start_daemon());
        EXPECT_TRUE(board.mcu_wait_for("RDY\r\n", 10s)) << board.transcript();
        EXPECT_EQ(board.mcu_received().find("UPD"), std::string::npos);
        struct stat info {};
        EXPECT_NE(lstat(board.path(std::string("/usrdata/") + c.member).c_str(), &info), 0);
        EXPECT_FALSE(std::filesystem::exists(package));
        EXPECT_TRUE(std::filesystem::exists(target));
        EXPECT_TRUE(std::filesystem::is_empty(board.path("/usrdata/cache/fota")));
    }
}

}  // namespace
