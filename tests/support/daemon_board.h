#pragma once
#include "board.h"

// The simulated board for tests that run the daemon: when it goes, the test
// fails if the daemon's output holds a sanitizer report.
class DaemonBoard : public SimBoard {
public:
    using SimBoard::SimBoard;
    ~DaemonBoard();
};
