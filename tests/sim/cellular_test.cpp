// "cell" through the real daemon on the simulated board, its modem answering AT commands.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "daemon_board.h"

namespace {

using namespace std::chrono_literals;

// Waits up to 30 s for a text in the board's event log.
bool wait_logged(const SimBoard& board, const std::string& text) {
    for (int tries = 0; tries < 600; ++tries) {
        if (board.read_file("/media/sdcard/log.txt").find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

// The board's modem: a PIN-locked card in slot 0, LTE at -95 dBm, MCC 234.
TEST(CellOnBoard, BringsTheCallUpAndAnswersFromTheLiveState) {
    DaemonBoard board(DaemonBoard::fast(10));
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    EXPECT_EQ(board.command("qz+cell\r", 20s), "\x04");
    ASSERT_TRUE(wait_logged(board, "Data activated")) << board.read_file("/media/sdcard/log.txt");
    EXPECT_EQ(board.command("qz+getsignalbar\r", 20s), "4\r\n\x04");
    for (const char* line : {";sim;2;Sim pin - OK\r\n", ";cellular;0;Signal type: LTE\r\n"})
        EXPECT_TRUE(wait_logged(board, line)) << line;
    const std::string mbn = "AT+QMBNCFG=\"deactivate\"";
    const std::string fplmn = "AT+CRSM=214,28539,0,0,12,\"FFFFFFFFFFFFFFFFFFFFFFFF\"";
    const std::vector<std::string> expected = {
        "AT+CFUN=0", "AT+CFUN=1", mbn, fplmn,  // slot 0: a card
        "AT+CFUN=0", "AT+CFUN=1",              // slot 1: empty
        "AT+CFUN=0", "AT+CFUN=1", mbn, fplmn,  // back to slot 0
    };
    auto lines = board.at_commands();
    lines.resize(expected.size());
    EXPECT_EQ(lines, expected);
    // A second "cell" starts no second thread.
    EXPECT_EQ(board.command("qz+cell\r", 20s), "\x04");
    EXPECT_TRUE(wait_logged(board, ";cell;1;Cellular handler already running"));
}

}  // namespace
