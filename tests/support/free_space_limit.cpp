// Linked with --wrap=statvfs --wrap=statvfs64 (the name a 32-bit build with
// 64-bit file offsets calls).
#include <sys/statvfs.h>

#include <atomic>

#include "module_tools.h"

namespace {
std::atomic<uint64_t> g_limit{0};

template <typename Info>
int limited(int result, Info* info) {
    const uint64_t limit = g_limit.load();
    if (result == 0 && limit > 0 && info->f_frsize > 0 && info->f_bavail > limit / info->f_frsize)
        info->f_bavail = limit / info->f_frsize;
    return result;
}
}  // namespace

FreeSpaceLimit::FreeSpaceLimit(uint64_t bytes) { g_limit = bytes; }
FreeSpaceLimit::~FreeSpaceLimit() { g_limit = 0; }

extern "C" {
int __real_statvfs(const char* path, struct statvfs* info);
int __real_statvfs64(const char* path, struct statvfs64* info);
int __wrap_statvfs(const char* path, struct statvfs* info) {
    return limited(__real_statvfs(path, info), info);
}
int __wrap_statvfs64(const char* path, struct statvfs64* info) {
    return limited(__real_statvfs64(path, info), info);
}
}
