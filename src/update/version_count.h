#pragma once
#include <cstdint>
#include <optional>

// A small record in /usrdata that counts attempts at one version, such as
// {"version": 6, "starts": 2}, replaced atomically so that a power cut leaves
// the old count or the new one.
struct VersionCount {
    int32_t version;
    int32_t count;
};

// Nothing when there is no record. A record that cannot be read counts one
// attempt already spent, at version 0.
std::optional<VersionCount> version_count_read(const char* devicePath, const char* countKey);
bool version_count_write(const char* devicePath, const char* countKey, const VersionCount& value);
// The record removed, its folder flushed.
void version_count_remove(const char* devicePath);
