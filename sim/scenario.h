#pragma once
#include <ostream>
#include <string>

#include "board.h"

// Plays a scenario file (sim/scenarios/*.json) on a fresh board and writes a
// readable transcript. Returns 0 when every step met its expectation.
int run_scenario(const std::string& file, SimBoard::Options options, std::ostream& out);
