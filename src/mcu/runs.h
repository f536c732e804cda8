#pragma once

// The MCU commands that start the daemon's long work; each runs in the MCU
// reader thread and leaves the end mark to its caller.
void run_transfer(const char* argument);
void run_process(const char* argument);
void run_sync(const char* argument);
void run_firstsync(const char* argument);
void run_cell(const char* argument);
