#pragma once
#include <ostream>
#include <string>

#include "sim/board.h"

// Plays a scenario file (sim/scenarios/*.json) on a fresh board and writes a
// readable transcript. Returns 0 when every step met its expectation.
int run_scenario(const std::string& file, SimBoard::Options options, std::ostream& out);
// SIGINT and SIGTERM stop runs with these options at once: the daemon is
// stopped, the transcript so far printed with "Scenario stopped by SIGTERM",
// and the run returns 128 plus the signal's number.
void scenario_stop_on_signals(SimBoard::Options& options);
