#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "daemon_board.h"

namespace {

using namespace std::chrono_literals;

// A daemon on a board whose clock runs ten times faster, past its first "RDY".
class Protocol : public ::testing::Test {
protected:
    static SimBoard::Options fast() {
        SimBoard::Options options;
        options.clockSpeed = 10;
        return options;
    }
    void SetUp() override {
        ASSERT_TRUE(board.start_daemon());
        ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    }
    // Sends a line and returns what came back up to the end mark.
    std::string command(const std::string& line) {
        size_t from = board.mcu_received().size();
        board.mcu_send(line);
        return board.mcu_answer(from, 10s);
    }
    // What arrives within the given time after sending.
    std::string exchange(const std::string& line, std::chrono::milliseconds quiet) {
        size_t from = board.mcu_received().size();
        board.mcu_send(line);
        std::this_thread::sleep_for(quiet);
        return board.mcu_received().substr(from);
    }
    size_t count(const std::string& text, const std::string& needle) {
        size_t n = 0;
        for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; at += needle.size()) ++n;
        return n;
    }
    std::string log() { return board.read_file("/media/sdcard/log.txt"); }

    DaemonBoard board{fast()};
};

TEST_F(Protocol, MalformedLinesAreIgnoredAndTheDaemonKeepsAnnouncing) {
    std::string after = exchange("qz+\r", 50ms) + exchange("qz transfer\r", 50ms) +
                        exchange("hello\r", 50ms) + exchange("q\r", 50ms) + exchange("qz+state", 600ms);
    // Only "RDY" lines came back: no answer, no end mark.
    EXPECT_EQ(after.find('\x04'), std::string::npos) << board.transcript();
    EXPECT_GE(count(after, "RDY\r\n"), 2u) << board.transcript();
}

TEST_F(Protocol, AtLinesPassThroughWithTheirCrAndGetNoAnswer) {
    std::string after = exchange("at+cfun?\r", 300ms);
    EXPECT_EQ(after.find_first_not_of("RDY\r\n"), std::string::npos) << board.transcript();
    auto commands = board.at_commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "at+cfun?");
    // An AT line is no daemon command: the announcing goes on.
    std::this_thread::sleep_for(400ms);
    EXPECT_TRUE(board.mcu_wait_for("RDY\r\n", 1s, board.mcu_received().size() - 5));
}

TEST_F(Protocol, CommandsAnswerAsTheTableSays) {
    EXPECT_EQ(command("QZ+STATE\r"), "1\x04");
    size_t quiet = board.mcu_received().size();
    EXPECT_EQ(command("qz+setbatt 612 125\r"), "AA: 612\r\nExt: 125\r\n\x04");
    EXPECT_EQ(command("qz+setbatt 612\r"), "AA: 612\r\nExt: 0\r\n\x04");
    EXPECT_EQ(command("qz+mcuversion 7\r"), "\x04");
    EXPECT_EQ(command("qz+iseach\r"), "1\r\n\x04");
    std::string next = command("qz+getnextsync\r");
    int hour = -1, minute = -1;
    EXPECT_EQ(std::sscanf(next.c_str(), "%d %d\r\n", &hour, &minute), 2) << next;
    EXPECT_EQ(command("qz+setdatetime 24 5 7 9 3 0\r"), "\x04");
    EXPECT_EQ(command("qz+getsignalbar\r"), "0\r\n\x04");  // no bring-up yet
    // The first daemon command ended the announcing.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(board.mcu_received().find("RDY", quiet), std::string::npos) << board.transcript();

    std::string text = log();
    for (const char* line : {";status;0;AA: 6.12v", ";status;0;Ext: 12.5v", ";status;0;Ext: 0.0v",
                             ";main;0;Version: V1.05.07-5-g93dfb16 REV ", ";config;0;Is each: 1",
                             ";config;0;Next sync: ", ";setdatetime;0;Date/time set from MCU"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    // The clock request reached the board's clock, never the host's.
    EXPECT_NE(board.read_file("/sim/clock_set.log").find("clock_settime 0 "), std::string::npos);
}

TEST_F(Protocol, TwoLinesInOneChunkAnswerOnlyTheFirst) {
    std::string answer = exchange("qz+state\r\nqz+iseach\r\n", 800ms);
    EXPECT_EQ(count(answer, "\x04"), 1u) << board.transcript();
    EXPECT_EQ(answer.find("1\x04"), answer.size() - 2);
}

TEST_F(Protocol, UnknownNamesGetFiftyBytesAndNoEndMark) {
    std::string expected = "Unknown command : hello\r\n";
    expected.resize(50, '\0');
    EXPECT_EQ(exchange("qz+hello\r", 500ms), expected);
    std::string longName = "qz+" + std::string(25, 'n') + " 1\r";
    expected = "Unknown command : \r\n";
    expected.resize(50, '\0');
    EXPECT_EQ(exchange(longName, 500ms), expected);
    // A name that begins with a command word selects that command.
    EXPECT_EQ(command("qz+STATEMENT\r"), "1\x04");
    EXPECT_NE(log().find(";uart;0;Unknow command: hello"), std::string::npos);
}

TEST_F(Protocol, GetDateTimeWaitsForTheNetworkTimeAtMost29Seconds) {
    auto start = std::chrono::steady_clock::now();
    std::string answer = command("qz+getdatetime\r");
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    EXPECT_EQ(std::sscanf(answer.c_str(), "%d %d %d %d %d %d\r\n", &year, &month, &day, &hour,
                          &minute, &second), 6) << answer;
    EXPECT_GE(year, 2024);
    // 29 one-second sleeps at ten times the speed.
    EXPECT_GE(waited, 2.7);
    EXPECT_NE(log().find(";getdatetime;0;"), std::string::npos);
}

TEST_F(Protocol, PowerdownHaltsTheBoardAndEndsWithStatusZero) {
    std::string after = exchange("qz+powerdown\r", 0ms);
    EXPECT_EQ(board.wait_exit(5s), 0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(board.mcu_received().find('\x04'), std::string::npos);
    auto commands = board.commands_run();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "halt"), commands.end());
    EXPECT_EQ(board.read_file("/sys/power/wake_lock"), "modem_powerdown\n");
    EXPECT_NE(log().find(";main;0;Modem powerdown"), std::string::npos);
}

}  // namespace
