#pragma once

// Takes the power-down wake lock, then halts (mode 0) or reboots (mode 1).
// Returns the status of the last command run.
int power_action(int mode);

// Formats a shell command (cut to 255 characters) and runs it with system().
int run_command(const char* format, ...) __attribute__((format(printf, 1, 2)));
