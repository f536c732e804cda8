#pragma once

// Takes the power-down wake lock, then halts (mode 0) or reboots (mode 1).
// Returns the status of the last command run.
int power_action(int mode);
