// statvfs() as on a nearly full /usrdata; linked with --wrap=statvfs --wrap=statvfs64 (the name a 32-bit
// build with 64-bit file offsets calls).
#include <sys/statvfs.h>

#include <cstdint>

namespace {
uint64_t g_limit = 0;

template <typename Info>
int limited(int result, Info* info) {
    if (result == 0 && g_limit > 0 && info->f_bavail > g_limit / info->f_frsize) info->f_bavail = g_limit / info->f_frsize;
    return result;
}
}  // namespace

void free_space_limit(uint64_t bytes) { g_limit = bytes; }

extern "C" {
int __real_statvfs(const char* path, struct statvfs* info);
int __real_statvfs64(const char* path, struct statvfs64* info);
int __wrap_statvfs(const char* path, struct statvfs* info) { return limited(__real_statvfs(path, info), info); }
int __wrap_statvfs64(const char* path, struct statvfs64* info) { return limited(__real_statvfs64(path, info), info); }
}
