#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

// File chores of the simulated board, on real paths under its root.

// Creates the folders above `path` and replaces the file.
void sim_write_file(const std::string& path, const std::string& content, mode_t mode = 0644);
// The whole file; empty when it cannot be read.
std::string sim_read_file(const std::string& path);
// The shell line a board script uses to record "<name> <arguments>" in sim/commands.log.
std::string sim_record_line(const std::string& root, const std::string& name);
// The calls in a recorder log, one a line, without the space a call without arguments leaves.
std::vector<std::string> sim_recorded_calls(const std::string& log);

// Runs a shell command and collects its standard output; its exit status, -1
// when it did not exit normally.
int sim_run(const std::string& command, std::string& output);

// Opens a raw pseudo-terminal pair; returns the master (-1 on failure) and sets
// the slave, opened with `slaveFlags` added, and its name.
int sim_open_pty(int& slave, std::string& slaveName, int slaveFlags = 0);
