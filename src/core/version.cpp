#include "core/version.h"

#include <cstdio>

#include "core/config.h"
#include "core/daemon_state.h"

namespace {
constexpr const char* kBuildTag = "5-g93dfb16";
}

int version_string(char* buffer, size_t size) {
    return std::snprintf(buffer, size, "V%d.%02d.%02d-%s REV %d", 1, kDaemonVersion,
                         config_getMcuVersion(), kBuildTag, g_state.boardRevision.load());
}

int daemon_version_text(char* buffer, size_t size) {
    return std::snprintf(buffer, size, "%s%d.%02d-%s", kDaemonVersionPrefix, 1, kDaemonVersion, kBuildTag);
}
