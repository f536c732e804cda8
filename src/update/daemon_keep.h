#pragma once
#include <cstdint>
#include <string>

// The update check's side of a new daemon's trial.

// Before a modem side is extracted: keeps /usrdata/qz_daemon as
// /usrdata/qz_daemon.prev, flushed. While a trial runs, the copy it keeps (the
// last daemon that got a camera record through) stays instead. Empty when
// kept or when there is no daemon to keep; otherwise why it cannot be kept.
std::string daemon_keep();

// How many bytes daemon_keep would write: the daemon's size, 0 while a trial
// keeps its copy or without a daemon.
uint64_t daemon_keep_size();

// After the extraction (and the post-update script): a daemon the package
// changed must answer "--version" with its version text within 10 s, or the
// kept copy is put back in one rename and "Update rolled back: <why>" logged
// (false). A daemon that answers begins its trial of `version` (true).
bool daemon_judge(int32_t version);
