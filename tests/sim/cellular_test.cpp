// "cell" through the real daemon on the simulated board, its modem answering AT commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "daemon_board.h"

namespace {

using namespace std::chrono_literals;

class CellOnBoard : public ::testing::Test {
protected:
    void start(const std::string& modem) {
        if (!modem.empty()) modem_board_set_scenario(board.root(), modem);
        ASSERT_TRUE(board.start_daemon());
        ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
        EXPECT_EQ(command("qz+cell\r"), "\x04");
    }
    std::string command(const std::string& line) { return board.command(line, 20s); }
    std::string log() const { return board.read_file("/media/sdcard/log.txt"); }
    size_t count(const std::string& needle) const {
        const std::string text = log();
        size_t n = 0;
        for (size_t at = 0; (at = text.find(needle, at)) != std::string::npos; ++at) ++n;
        return n;
    }
    bool wait_count(const std::string& needle, size_t times) const {
        for (int tries = 0; tries < 600 && count(needle) < times; ++tries) std::this_thread::sleep_for(50ms);
        return count(needle) >= times;
    }
    DaemonBoard board{DaemonBoard::fast(10)};
};

TEST_F(CellOnBoard, BringsTheCallUpAndAnswersFromTheLiveState) {
    start("");  // the board's modem: a PIN-locked card in slot 0, LTE at -95 dBm, MCC 234
    ASSERT_TRUE(wait_count("Data activated", 1)) << log();
    EXPECT_EQ(command("qz+getsignalbar\r"), "4\r\n\x04");
    EXPECT_NE(command("qz+getdatetime\r").find("\r\n\x04"), std::string::npos);
    for (const char* line : {";sim;2;Sim pin - OK\r\n", ";cellular;0;Signal type: LTE\r\n"})
        EXPECT_NE(log().find(line), std::string::npos) << line << log();
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
    const auto commands = board.commands_run();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "ntpd -n -N -q -p pool.ntp.org"),
              commands.end());
    // A second "cell" starts no second thread.
    EXPECT_EQ(command("qz+cell\r"), "\x04");
    EXPECT_TRUE(wait_count("Cellular handler already running", 1));
}

TEST_F(CellOnBoard, APulledSimIsRecoveredOnTheOtherSlot) {
    const std::string both = R"({
      "slots": [{"state": "ready", "iccid": "8910000000000000001", "imsi": "310260000000001"},
                {"state": "ready", "iccid": "8910000000000000002", "imsi": "310260000000002"}],
      "signal": {"gsm": -70}, "network": {"radio": 2, "mcc": "310", "mnc": "26"},
      "nitz": "24/05/07,09:03:00-20,0", "data_call": {"result": "connect", "delay": 2}})";
    start(both);
    ASSERT_TRUE(wait_count("Data activated", 1)) << log();
    command("qz+getdatetime\r");  // the zone is set before the card goes
    std::string pulled = both;
    pulled.replace(pulled.find("\"ready\""), 7, "\"absent\"");
    modem_board_set_scenario(board.root(), pulled);
    ASSERT_TRUE(wait_count("Data activated", 2)) << log();
    EXPECT_NE(log().find(";sim;1;Switch sim card slot: 1\r\n"), std::string::npos) << log();
    EXPECT_EQ(board.read_file("/sys/class/gpio/gpio7/value"), "1");
    EXPECT_EQ(count("Failed to get nitz"), 0u);
}

}  // namespace
