#pragma once

// One sync with the cloud service, run by the MCU commands "sync" (mode 0)
// and "firstsync" (mode 1): waits for the data call, makes sure a token is at
// hand and runs the camera record exchange, retrying within a budget of 180
// counts (one per second of waiting, one per attempt) and within the time
// bounds of a sync (sync_bounds.h), a failing service less and less often.
// Two fresh tokens refused in a row end it. Keep-alive bytes keep the MCU
// waiting meanwhile. 0 when an exchange succeeded, -1 otherwise.
int cloud_sync(int mode);
