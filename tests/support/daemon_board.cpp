#include "tests/support/daemon_board.h"

#include <gtest/gtest.h>

DaemonBoard::~DaemonBoard() {
    stop_daemon();
    EXPECT_EQ(sanitizer_report(), "") << "in the daemon's output";
}

SimBoard::Options DaemonBoard::fast(double speed, bool inUsrdata) {
    Options options;
    options.clockSpeed = speed;
    options.daemonInUsrdata = inUsrdata;
    return options;
}

std::string DaemonBoard::command(const std::string& line, std::chrono::milliseconds within) {
    const size_t from = mcu_received().size();
    mcu_send(line);
    return mcu_answer(from, within);
}
