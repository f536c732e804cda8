#include "tests/support/module_tools.h"

#include <unistd.h>

#include <filesystem>

bool busybox_applets(const std::string& bin) {
    std::filesystem::create_directories(bin);
    for (const char* applet : {"tar", "gzip", "cp", "mv", "rm", "chmod", "sync", "mkdir", "dd"})
        if (symlink("/bin/busybox", (bin + "/" + applet).c_str()) != 0) return false;
    return true;
}
