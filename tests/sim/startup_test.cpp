#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/support/daemon_board.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::chrono::steady_clock::time_point> ready_times(const SimBoard& board) {
    std::vector<std::chrono::steady_clock::time_point> times;
    for (const auto& chunk : board.mcu_chunks())
        for (size_t at = 0; (at = chunk.bytes.find("RDY\r\n", at)) != std::string::npos; at += 5)
            times.push_back(chunk.when);
    return times;
}

double seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Start-up on a healthy board: GPIO lines set without a fault, firmware and
// temperature logged, the board revision kept, then the announcing until the
// MCU's first daemon command.
TEST(Startup, AnnouncesAtPortStartThenAfterFiveSecondsThenEverySecond) {
    DaemonBoard board;
    modem_board_set_revision(board.root(), 5);
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    std::this_thread::sleep_for(8500ms);
    auto times = ready_times(board);
    ASSERT_GE(times.size(), 4u) << board.transcript();
    EXPECT_GE(seconds(times[1] - times[0]), 4.9);
    for (size_t i = 2; i < times.size(); ++i) {
        EXPECT_GT(seconds(times[i] - times[i - 1]), 0.8);
        EXPECT_LT(seconds(times[i] - times[i - 1]), 1.5);
    }
    std::string log = board.read_file("/media/sdcard/log.txt");
    const size_t firmware = log.find(";Modem;0;Firmware: QZM01R06A01\r\n");
    const size_t temperature = log.find(";adc;0;Temperature: 27C\r\n");
    EXPECT_NE(temperature, std::string::npos) << log;
    EXPECT_LT(log.find(";main;0;Modem power-on\r\n"), firmware) << log;
    EXPECT_LT(firmware, temperature) << log;
    EXPECT_EQ(log.find(";gpio;"), std::string::npos) << log;
    auto commands = board.commands_run();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "/usrdata/prune.sh"), commands.end());
    board.mcu_send("at+cfun?\r");  // no daemon command: the announcing goes on
    EXPECT_TRUE(board.mcu_wait_for("RDY\r\n", 2s, board.mcu_received().size()));
    EXPECT_EQ(board.command("qz+mcuversion 7\r", 5s), "\x04");
    const size_t quiet = board.mcu_received().size();
    std::this_thread::sleep_for(1500ms);  // the first daemon command ended the announcing
    EXPECT_EQ(board.mcu_received().find("RDY", quiet), std::string::npos) << board.transcript();
    EXPECT_NE(board.read_file("/media/sdcard/log.txt").find("Version: V1.05.07-5-g93dfb16 REV 5"),
              std::string::npos);
}

TEST(Startup, UnreachableModemLeavesIdentityEmptyAndGoesOn) {
    DaemonBoard board(DaemonBoard::fast(50));  // two readiness waits of 10 s
    modem_board_withhold(board.root(), ModemFault::NoServiceFlag);
    ASSERT_TRUE(board.start_daemon());
    // The second announcement comes from the heartbeat, once start-up is over.
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\nRDY\r\n", 10s)) << board.transcript();
    const std::string log = board.read_file("/media/sdcard/log.txt");
    EXPECT_NE(log.find(";sync;2;Get IMEI error: 9\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(";sync;2;Get device Rev ID error: 9\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(";Modem;0;Firmware:\r\n"), std::string::npos) << log;
}

TEST(Startup, WithoutMcuPortNothingIsSentAndTheDaemonRuns) {
    SimBoard::Options options = DaemonBoard::fast(10);
    options.withMcuPort = false;
    DaemonBoard board(options);
    ASSERT_TRUE(board.start_daemon());
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(board.mcu_received(), "");
    EXPECT_EQ(board.wait_exit(10ms), -1) << "the daemon must keep running";
    EXPECT_NE(board.daemon_output().find("open -" + board.root() + "/dev/ttyHS0 115200, "),
              std::string::npos)
        << board.daemon_output();
}

TEST(Startup, WithoutSdCardStartUpCompletesAndSaysLogFailed) {
    SimBoard::Options options = DaemonBoard::fast(10);
    options.withSdCard = false;
    DaemonBoard board(options);
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    EXPECT_NE(board.daemon_output().find("Log failed"), std::string::npos);
    // Still serving: a command is answered.
    EXPECT_EQ(board.command("qz+state\r", 5s), "1\x04") << board.transcript();
}

}  // namespace
