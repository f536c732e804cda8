// The real daemon answering the MCU on the simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "daemon_board.h"

namespace {

using namespace std::chrono_literals;

class Protocol : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(board.start_daemon());
        ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    }
    std::string command(const std::string& line) { return board.command(line, 10s); }
    std::string log() const { return board.read_file("/media/sdcard/log.txt"); }

    DaemonBoard board{DaemonBoard::fast(10)};
};

TEST_F(Protocol, AtLinesPassThroughAndCommandsAreAnswered) {
    board.mcu_send("at+cfun?\r");
    std::this_thread::sleep_for(300ms);
    // An AT line is no daemon command: the announcing goes on.
    EXPECT_TRUE(board.mcu_wait_for("RDY\r\n", 2s, board.mcu_received().size()));
    const size_t quiet = board.mcu_received().size();
    EXPECT_EQ(command("qz+iseach\r"), "1\r\n\x04");
    int hour = -1, minute = -1;
    EXPECT_EQ(std::sscanf(command("qz+getnextsync\r").c_str(), "%d %d\r\n", &hour, &minute), 2);
    EXPECT_NE(log().find(";config;0;Next sync: "), std::string::npos);
    EXPECT_EQ(command("qz+setdatetime 24 5 7 9 3 0\r"), "\x04");
    // The first daemon command ended the announcing.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(board.mcu_received().find("RDY", quiet), std::string::npos) << board.transcript();
    // The clock request reached the board's clock, never the host's.
    EXPECT_NE(board.read_file("/sim/clock_set.log").find("clock_settime 0 "), std::string::npos);
}

TEST_F(Protocol, PowerdownHaltsTheBoardAndEndsWithStatusZero) {
    board.mcu_send("qz+powerdown\r");
    EXPECT_EQ(board.wait_exit(5s), 0);
    EXPECT_EQ(board.mcu_received().find('\x04'), std::string::npos);
    const auto commands = board.commands_run();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "halt"), commands.end());
    EXPECT_EQ(board.read_file("/sys/power/wake_lock"), "modem_powerdown\n");
    EXPECT_NE(log().find(";main;0;Modem powerdown"), std::string::npos);
}

}  // namespace
