#include "core/device_root.h"

#include <cstdlib>

namespace {
std::string g_root;
}

void device_root_set(const std::string& root) {
    g_root = root;
    while (g_root.size() > 1 && g_root.back() == '/') g_root.pop_back();
}

const std::string& device_root() { return g_root; }

void device_root_init() {
    const char* root = std::getenv("QZ_ROOT");
    device_root_set(root ? root : "");
    if (g_root.empty()) return;
    const char* path = std::getenv("PATH");
    std::string search = g_root + "/bin";
    if (path && *path) search += std::string(":") + path;
    setenv("PATH", search.c_str(), 1);
}

std::string device_path(const char* path) {
    if (g_root.empty() || path == nullptr || path[0] != '/') return path ? path : "";
    return g_root + path;
}
