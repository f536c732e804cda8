#pragma once
#include <chrono>
#include <string>

#include "sim/board.h"

// The simulated board for tests that run the daemon: when it goes, the test
// fails if the daemon's output holds a sanitizer report.
class DaemonBoard : public SimBoard {
public:
    using SimBoard::SimBoard;
    ~DaemonBoard();
    // A board whose daemon sleeps `speed` times shorter (and runs as usrdata/qz_daemon).
    static Options fast(double speed, bool inUsrdata = false);
    // Sends a line from the MCU; the daemon's answer up to its end mark.
    std::string command(const std::string& line, std::chrono::milliseconds within);
};
