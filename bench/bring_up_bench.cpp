// Bring-up on the simulated board: the time from "cell" to "Data activated"
// with a modem that answers AT commands in 50 ms and connects the call 2 s
// after it is started. The total splits into the bring-up's fixed sleeps
// (slot settling, one signal reading), the modem's own time (AT answers, call
// set-up) and the rest: the daemon's own waiting.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "sim/board.h"

using Clock = std::chrono::steady_clock;

namespace {

constexpr double kAtAnswer = 0.05;
constexpr double kCallSetUp = 2.0;

struct Case {
    const char* name;
    const char* slots;
    double fixedSleeps;  // seconds of settling and signal reading the bring-up sleeps on purpose
};

// Slot 1 empty: scan it (3 s + 3 s), switch back to slot 0 (3 s + 3 s), one signal reading (1 s).
// Slot 1 preferred: scan it (3 s + 3 s), one signal reading.
constexpr Case kCases[] = {
    {"(a) ready SIM in slot 0",
     R"([{"state": "ready", "iccid": "8910000000000000001", "imsi": "310260000000001"}, {"state": "absent"}])",
     13.0},
    {"(b) preferred carrier in slot 1",
     R"([{"state": "ready", "iccid": "8910000000000000001", "imsi": "310260000000001"},
         {"state": "ready", "iccid": "8910000000000000002", "imsi": "311480000000002"}])",
     7.0},
};

std::string modem(const Case& c) {
    return std::string(R"({"slots": )") + c.slots + R"(, "signal": {"lte": -95},
      "network": {"radio": 4, "mcc": "310", "mnc": "26"}, "nitz": "24/05/07,09:03:00-20,0",
      "data_call": {"result": "connect", "delay": 2}, "at": {"delay": 0.05}})";
}

bool run(const Case& c) {
    SimBoard board;
    modem_board_set_scenario(board.root(), modem(c));
    if (!board.start_daemon() || !board.mcu_wait_for("RDY\r\n", std::chrono::seconds(10))) return false;
    const auto start = Clock::now();
    board.mcu_send("qz+cell\r");
    while (board.read_file("/media/sdcard/log.txt").find("Data activated") == std::string::npos) {
        if (Clock::now() - start > std::chrono::seconds(120)) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    const size_t atLines = board.at_commands().size();
    const double modemTime = static_cast<double>(atLines) * kAtAnswer + kCallSetUp;
    const double rest = total - c.fixedSleeps - modemTime;
    std::printf("%-34s %8.2f %8.2f %8.2f %4zu %8.2f %6.1f%%\n", c.name, total, c.fixedSleeps,
                modemTime, atLines, rest, 100.0 * rest / total);
    return true;
}

}  // namespace

int main() {
    std::printf("%-34s %8s %8s %8s %4s %8s %7s\n", "case", "total s", "sleeps", "modem", "AT",
                "rest s", "rest");
    for (const Case& c : kCases)
        if (!run(c)) {
            std::fprintf(stderr, "%s: no \"Data activated\"\n", c.name);
            return 1;
        }
    return 0;
}
