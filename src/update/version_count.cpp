#include "update/version_count.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "core/atomic_file.h"
#include "core/clock_helpers.h"
#include "core/device_root.h"
#include "core/json_util.h"

namespace {
constexpr size_t kRecordLimit = 256;
}

std::optional<VersionCount> version_count_read(const char* devicePath, const char* countKey) {
    const std::string path = device_path(devicePath);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return std::nullopt;
    std::string text;
    VersionCount value{0, 0};
    if (read_regular_file(path.c_str(), kRecordLimit, text)) {
        JsonPtr json = json_parse(text.c_str());
        if (json && json_member_int32(json.get(), "version", value.version) &&
            json_member_int32(json.get(), countKey, value.count) && value.count >= 0)
            return value;
    }
    return VersionCount{0, 1};
}

bool version_count_write(const char* devicePath, const char* countKey, const VersionCount& value) {
    return atomic_file_write(device_path(devicePath).c_str(), [&](FILE* file) {
               return std::fprintf(file, "{\"version\": %d, \"%s\": %d}\n", value.version, countKey,
                                   value.count) > 0;
           }) == 0;
}

void version_count_remove(const char* devicePath) {
    atomic_file_remove(device_path(devicePath).c_str());
}
