#pragma once
#include <cstddef>

// One AT command and its answer on the modem's AT port. Whole exchanges are
// serialised, so a caller on another thread never takes this one's answer.
// Each of `checks` checks waits up to a second for "OK" or "ERROR"; "ERROR"
// sends the command again, no sooner than a second after it was last sent,
// and a run of the same error is logged once, then with its count. True when
// "OK" was seen; `answer`, when given, receives the text in which it was seen.
bool at_exchange(const char* command, int checks, char* answer = nullptr, size_t size = 0);
