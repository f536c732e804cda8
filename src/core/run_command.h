#pragma once

// Formats a shell command (cut to 255 characters) and runs it with system();
// returns what system() returns.
int run_command(const char* format, ...) __attribute__((format(printf, 1, 2)));
