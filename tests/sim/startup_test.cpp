#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "daemon_board.h"

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

TEST(Startup, AnnouncesAtPortStartThenAfterFiveSecondsThenEverySecond) {
    DaemonBoard board;
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
    EXPECT_NE(log.find(";main;0;Modem power-on\r\n"), std::string::npos);
    EXPECT_LT(log.find("Modem power-on"), log.find(";Modem;0;Firmware: "));
    auto commands = board.commands_run();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "/usrdata/prune.sh"), commands.end());
}

TEST(Startup, WithoutMcuPortNothingIsSentAndTheDaemonRuns) {
    SimBoard::Options options;
    options.withMcuPort = false;
    options.clockSpeed = 10;
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
    SimBoard::Options options;
    options.withSdCard = false;
    options.clockSpeed = 10;
    DaemonBoard board(options);
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    EXPECT_NE(board.daemon_output().find("Log failed"), std::string::npos);
    // Still serving: a command is answered.
    board.mcu_send("qz+state\r");
    EXPECT_TRUE(board.mcu_wait_for("1\x04", 5s)) << board.transcript();
}

}  // namespace
