#include "daemon_board.h"

#include <gtest/gtest.h>

DaemonBoard::~DaemonBoard() {
    stop_daemon();
    EXPECT_EQ(sanitizer_report(), "") << "in the daemon's output";
}
