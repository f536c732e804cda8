#pragma once
#include <cstddef>

// The daemon's own version number, compared by the update check.
constexpr int kDaemonVersion = 5;

// "V1.05.<mcu version>-<build tag> REV <board revision>", cut to fit.
int version_string(char* buffer, size_t size);
