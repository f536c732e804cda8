#pragma once
#include <cstdint>
#include <string>

// The module's own tools: Debian's busybox applets tar, gzip, cp, mv, rm,
// chmod, sync, mkdir and dd linked into `bin` (a device root's bin/, which the
// daemon puts first in PATH). False when they cannot be linked.
bool busybox_applets(const std::string& bin);

// While it lives, statvfs() reports at most `bytes` available, as on a nearly
// full /usrdata. Needs the test linked with qz_limit_free_space.
class FreeSpaceLimit {
  public:
    explicit FreeSpaceLimit(uint64_t bytes);
    ~FreeSpaceLimit();
};
