#pragma once
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

// "VmRSS" or "VmHWM" of a process, in kB; 0 when it cannot be read.
inline long status_kb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size() + 1);
    return 0;
}

// CPU seconds a process and the children it has reaped used so far (user +
// system, from /proc/<pid>/stat); 0 when it cannot be read.
inline double cpu_seconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    if (end == std::string::npos) return 0;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    double ticks = 0;
    // Fields 14 to 17 (utime, stime, cutime, cstime) are the 12th to 15th after the name.
    for (int i = 3; i <= 17 && fields >> field; ++i)
        if (i >= 14) ticks += std::atof(field.c_str());
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
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
