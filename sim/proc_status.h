#pragma once
#include <sys/types.h>

#include <cstdlib>
#include <fstream>
#include <string>

// "VmRSS" or "VmHWM" of a process, in kB; 0 when it cannot be read.
inline long status_kb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size() + 1);
    return 0;
}

// Starts the peak resident memory (VmHWM) afresh from the current size.
inline void reset_peak(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

// A counter of /proc/<pid>/io ("wchar", "write_bytes"); 0 when it cannot be read.
// A process's counters include those of the children it has reaped.
inline long long io_counter(pid_t pid, const std::string& field) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    for (std::string line; std::getline(io, line);)
        if (line.rfind(field + ":", 0) == 0) return std::atoll(line.c_str() + field.size() + 1);
    return 0;
}
