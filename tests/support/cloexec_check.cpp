// Linked with --wrap=close --wrap=fclose: a descriptor under the device root
// that is closed without close-on-exec fails the running test, since the
// daemon runs shell commands from several threads and every child would
// inherit it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/device_root.h"

namespace {
void check_close_on_exec(int fd) {
    if (fd < 0 || device_root().empty()) return;
    const int flags = fcntl(fd, F_GETFD);
    if (flags < 0 || (flags & FD_CLOEXEC) != 0) return;
    char target[512] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    if (readlink(link.c_str(), target, sizeof target - 1) <= 0) return;
    if (std::string(target).rfind(device_root(), 0) == 0)
        ADD_FAILURE() << target << " was opened without close-on-exec";
}
}  // namespace

extern "C" {
int __real_close(int fd);
int __real_fclose(FILE* file);
int __wrap_close(int fd) {
    check_close_on_exec(fd);
    return __real_close(fd);
}
int __wrap_fclose(FILE* file) {
    if (file != nullptr) check_close_on_exec(fileno(file));
    return __real_fclose(file);
}
}
