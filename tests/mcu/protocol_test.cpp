// The MCU line protocol in the reader thread's own code, on two pseudo-terminals.
#include <gtest/gtest.h>

#include <string>

#include "core/cellular_status.h"
#include "core/config.h"
#include "core/daemon_state.h"
#include "tests/support/fake_clock.h"
#include "mcu/mcu_protocol.h"
#include "tests/support/pty_pair.h"
#include "tests/support/test_root.h"

namespace {

class Protocol : public ::testing::Test {
protected:
    Protocol() {
        cellular_status_reset();
        g_state.mcuFd = mcu_.daemon_side();
        g_state.atFd = at_.daemon_side();
    }
    ~Protocol() override {
        g_state.mcuFd = -1;
        g_state.atFd = -1;
    }

    TestRoot root_;
    FakeClock clock_;
    PtyPair mcu_, at_;
};

struct LineCase {
    std::string chunk;
    std::string answer;  // what the MCU receives
    std::string atPort;  // what the modem receives
    bool spoke;          // accepted as a daemon command
};

std::string padded(const std::string& text) { return text + std::string(50 - text.size(), '\0'); }

TEST_F(Protocol, LinesAreAnsweredAsTheTableSays) {
    ScopedTimeZone utc("UTC0");
    clock_.pin_wall(1715072580);  // 2024-05-07 09:03:00 UTC
    g_config.firstSyncHour = 7;   // one sync a day at 07:30
    g_config.firstSyncMin = 30;
    const LineCase cases[] = {
        {"qz+getnextsync\r", "7 30\r\n\x04", "", true},
        {"QZ+STATE\r", "1\x04", "", true},
        {"qz+STATEMENT\r", "1\x04", "", true},  // a name that begins with a command word
        {"qz+state\r\nqz+iseach\r\n", "1\x04", "", true},  // only the first line
        {"qz+setbatt 612 125\r", "AA: 612\r\nExt: 125\r\n\x04", "", true},
        {"qz+setbatt 6.12 125\r", "AA: 6\r\nExt: 125\r\n\x04", "", true},
        {"qz+setbatt 612\r", "AA: 612\r\nExt: 0\r\n\x04", "", true},
        {"qz+mcuversion 7\r", "\x04", "", true},
        {"qz+setdatetime 4294967320 5 7 9 3 0\r", "\x04", "", true},
        {"qz+hello\r", padded("Unknown command : hello\r\n"), "", true},
        {"qz+" + std::string(25, 'n') + " 1\r", padded("Unknown command : \r\n"), "", true},
        {"at+cfun?\rrest", "", "at+cfun?\r", false},
        {"qz+\r", "", "", false},
        {"qz transfer\r", "", "", false},
        {"qz+state", "", "", false},
        {"hello\r", "", "", false},
        {"q", "", "", false},
    };
    for (const LineCase& c : cases) {
        g_state.mcuSpoke = 0;
        mcu_handle_chunk(c.chunk.c_str());
        EXPECT_EQ(mcu_.drain(), c.answer) << c.chunk;
        EXPECT_EQ(at_.drain(), c.atPort) << c.chunk;
        EXPECT_EQ(g_state.mcuSpoke.load(), c.spoke ? 1 : 0) << c.chunk;
    }
    const std::string text = root_.log();
    for (const char* line : {";config;0;Next sync: 07:30", ";status;0;AA: 6.12v", ";status;0;Ext: 12.5v", ";status;0;Ext: 0.0v",
                             ";main;0;Version: V1.05.07-5-g93dfb16 REV 1",
                             ";setdatetime;1;Date/time out of range: 4294967320 5 7 9 3 0",
                             ";setdatetime;0;Date/time set from MCU", ";uart;0;Unknow command: hello"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_TRUE(clock_.clock_settings().empty());
}

TEST_F(Protocol, GetDateTimeWaitsForTheNetworkTimeAtMost29Seconds) {
    ScopedTimeZone utc("UTC0");
    // The pinned clock moves on with the wait: the answer is the time after it.
    const std::pair<int, const char*> cases[] = {{0, "2024 5 7 9 3 29\r\n\x04"},
                                                 {1, "2024 5 7 9 3 0\r\n\x04"}};
    for (const auto& [known, answer] : cases) {
        g_cellular.timeKnown = known;
        clock_.pin_wall(1715072580);  // 2024-05-07 09:03:00 UTC
        mcu_handle_chunk("qz+getdatetime\r");
        EXPECT_EQ(mcu_.drain(), answer) << known;
    }
    EXPECT_EQ(clock_.slept_us(), 29'000'000u);
}

}  // namespace
