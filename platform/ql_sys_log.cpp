// Host stand-in of the vendor's system log: one line per call in
// <QZ_ROOT>/sim/ql_sys.log, "<level> <tag> <text>", or on standard error
// without a root.
#include <ql_sys_log.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/sim_modem.h"

namespace {
std::mutex g_mutex;
}

void ql_sys_log_puts(int, int level, const char* tag, const char* text) {
    const std::string root = sim_modem::root();
    std::lock_guard<std::mutex> lock(g_mutex);
    FILE* file = root.empty() ? stderr : std::fopen((root + "/sim/ql_sys.log").c_str(), "ae");
    if (file == nullptr) return;
    std::fprintf(file, "%d %s %s\n", level, tag ? tag : "", text ? text : "");
    if (file != stderr) std::fclose(file);
}
