#pragma once

// Seconds between two transmissions of the daily grid (at least one hour).
int sync_period();
// Local hour and minute of the next transmission.
void next_sync_time(int* hour, int* minute);
// 1 when every picture is to be sent as soon as it is taken.
int is_each();
