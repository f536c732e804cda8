#pragma once

// A new daemon is on trial until a camera record it sends is accepted. Its
// starts are counted in /usrdata/update_trial; a wake that ends with
// "powerdown" without having been asked to sync gives its start back. The
// 6th counted start without an accepted camera record puts the daemon kept
// before the update, /usrdata/qz_daemon.prev, back in place.

// Step 0 of start-up: counts this start while a trial runs. True when the
// trial is spent and the kept daemon is back: the caller reboots.
bool update_trial_start();

// "sync" or "firstsync" was asked in this wake, so its start stays counted.
void update_trial_sync_asked();

// Before power-down: a wake that was not asked to sync gives its start back.
void update_trial_powerdown();

// A camera record was answered with a 2xx: a daemon on trial has passed.
void update_trial_commit();
