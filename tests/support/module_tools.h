#pragma once
#include <string>

// The module's own tools: Debian's busybox applets tar, gzip, cp, mv, rm, chmod, sync, mkdir and dd
// linked into `bin` (a device root's bin/, which the daemon puts first in PATH); false when they cannot be.
bool busybox_applets(const std::string& bin);
