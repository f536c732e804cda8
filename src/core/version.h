#pragma once
#include <cstddef>

// The daemon's own version number, compared by the update check.
constexpr int kDaemonVersion = 5;

// "V1.05.<mcu version>-<build tag> REV <board revision>", cut to fit.
int version_string(char* buffer, size_t size);

// "qz_daemon V1.05-<build tag>": what "qz_daemon --version" prints, and what
// the update check expects a new daemon to answer.
int daemon_version_text(char* buffer, size_t size);
constexpr const char* kDaemonVersionPrefix = "qz_daemon V";
