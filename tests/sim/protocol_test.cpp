// The real daemon answering the MCU on the simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "daemon_board.h"

namespace {

using namespace std::chrono_literals;

TEST(ProtocolOnBoard, CommandsAreAnsweredUntilPowerdownHaltsTheBoard) {
    DaemonBoard board(DaemonBoard::fast(10));
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    board.mcu_send("at+cfun?\r");
    std::this_thread::sleep_for(300ms);
    // An AT line is no daemon command: the announcing goes on.
    EXPECT_TRUE(board.mcu_wait_for("RDY\r\n", 2s, board.mcu_received().size()));
    const size_t quiet = board.mcu_received().size();
    EXPECT_EQ(board.command("qz+iseach\r", 10s), "1\r\n\x04");
    int hour = -1, minute = -1;
    EXPECT_EQ(std::sscanf(board.command("qz+getnextsync\r", 10s).c_str(), "%d %d\r\n", &hour, &minute), 2);
    EXPECT_EQ(board.command("qz+setdatetime 24 5 7 9 3 0\r", 10s), "\x04");
    // The first daemon command ended the announcing.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(board.mcu_received().find("RDY", quiet), std::string::npos) << board.transcript();
    // The clock request reached the board's clock, never the host's.
    EXPECT_NE(board.read_file("/sim/clock_set.log").find("clock_settime 0 "), std::string::npos);
    // Powerdown halts the board and ends with status 0, without an end mark.
    const size_t before = board.mcu_received().size();
    board.mcu_send("qz+powerdown\r");
    EXPECT_EQ(board.wait_exit(5s), 0);
    EXPECT_EQ(board.mcu_received().size(), before);
    const auto commands = board.commands_run();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "halt"), commands.end());
    const std::string log = board.read_file("/media/sdcard/log.txt");
    for (const char* line : {";config;0;Next sync: ", ";main;0;Modem powerdown"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
}

}  // namespace
