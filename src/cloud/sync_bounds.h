#pragma once
#include <cstdint>

// The bounds of one sync, so that no answer of the service and no silence
// keeps a battery device busy: a sync ends 180 s after its last progress (a
// transfer answered 2xx) and 15 minutes after it began. A SIM-update wait
// that the service asks for is not counted, and such waits come to 60
// minutes per sync at most. Only the MCU reader thread runs a sync.

void sync_bounds_begin();
void sync_bounds_end();

// Microseconds left before the sync must end: 0 when it must end now, and
// no bound outside a sync.
uint64_t sync_time_left_us();

// The transport tells of every transfer that was answered. 2xx is progress;
// a 503 or 429 whose Retry-After (seconds, -1 when none) lies beyond what is
// left ends the sync ("Service busy, retry after <text>"), a nearer one is
// waited for before the next attempt.
void sync_note_answer(long status, int64_t retryAfterSeconds, const char* retryAfterText);
// An accepted answer that could not be used (a token refused) is no progress after all.
void sync_answer_unusable();
// The wait the service asked for before the next attempt, once; 0 when none.
uint64_t sync_take_retry_wait_us();

// The minutes of a SIM-update wait that may still be granted in this sync,
// taken from what is left of the 60.
int64_t sync_take_sim_wait_minutes(int64_t asked);
// A wait the service asked for: the MCU hears from us, the bounds do not count it.
void sync_pause(uint64_t microseconds);

// True once per sync (and always outside one): a refused token is saved to
// the configuration file at most once per sync.
bool sync_token_save_due();
