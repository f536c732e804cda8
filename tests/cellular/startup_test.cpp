// The real daemon's start-up on the simulated board: GPIO lines, identity
// through the wrappers and the stand-ins, firmware and temperature logged.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "daemon_board.h"
#include "modem_board.h"

namespace {

using std::chrono::milliseconds;

// Waits for a text in a file of the root, up to 20 s.
bool wait_for_text(const SimBoard& board, const std::string& devicePath, const std::string& text) {
    for (int tries = 0; tries < 400; ++tries) {
        if (board.read_file(devicePath).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(milliseconds(50));
    }
    return false;
}

TEST(ModemStartup, GpioIdentityFirmwareAndTemperature) {
    DaemonBoard board;
    modem_board_set_revision(board.root(), 5);
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(wait_for_text(board, "/media/sdcard/log.txt", "Temperature:"))
        << board.read_file("/media/sdcard/log.txt") << board.daemon_output();
    const std::string log = board.read_file("/media/sdcard/log.txt");
    EXPECT_NE(log.find(";Modem;0;Firmware: QZM01R06A01\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(";adc;0;Temperature: 27C\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find(";gpio;"), std::string::npos) << log;
    EXPECT_LT(log.find("Firmware:"), log.find("Temperature:"));
    EXPECT_EQ(board.read_file("/sys/class/gpio/gpio7/direction"), "out");
    EXPECT_NE(board.read_file("/sim/ql_sys.log").find("Init mcm client succeed"), std::string::npos);

    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", milliseconds(10000)));
    board.mcu_send("qz+mcuversion 7\r");
    EXPECT_TRUE(wait_for_text(board, "/media/sdcard/log.txt", "Version: V1.05.07-5-g93dfb16 REV 5"))
        << board.read_file("/media/sdcard/log.txt");
}

TEST(ModemStartup, UnreachableModemLeavesIdentityEmptyAndGoesOn) {
    SimBoard::Options options;
    options.clockSpeed = 50;  // two readiness waits of 10 s
    DaemonBoard board(options);
    modem_board_withhold(board.root(), ModemFault::NoServiceFlag);
    modem_board_set_adc(board.root(), -1);
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(wait_for_text(board, "/media/sdcard/log.txt", "Temperature sensor"))
        << board.read_file("/media/sdcard/log.txt");
    const std::string log = board.read_file("/media/sdcard/log.txt");
    EXPECT_NE(log.find(";sync;2;Get IMEI error: 9\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(";sync;2;Get device Rev ID error: 9\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(";Modem;0;Firmware: \r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(";adc;2;Temperature sensor not readable\r\n"), std::string::npos) << log;
    EXPECT_TRUE(board.mcu_wait_for("RDY\r\n", milliseconds(10000)));
}

}  // namespace
