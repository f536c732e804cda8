#include "device_tools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>

#include "device_root.h"
#include "run_command.h"

extern char** environ;

namespace {

// Runs the program with its output and errors thrown away; its exit status.
int run_quietly(char* const argv[]) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = -1;
    int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string swap_path() { return device_path("/media/sdcard/swap"); }

}  // namespace

int jpeg_compress(const char* path, int target_kb) {
    std::string tool = device_path("/usrdata/jpegoptim");
    std::string size = "-S" + std::to_string(target_kb);
    std::string file = path;
    char* const argv[] = {tool.data(), size.data(), const_cast<char*>("--strip-com"),
                          const_cast<char*>("--strip-iptc"), const_cast<char*>("--strip-icc"),
                          const_cast<char*>("--strip-xmp"), file.data(), nullptr};
    return run_quietly(argv);
}

void swap_file_on(int kib) {
    const std::string swap = swap_path();
    run_command("rm %s", swap.c_str());
    run_command("dd if=/dev/zero of=%s bs=1024 count=%d", swap.c_str(), kib);
    run_command("chmod 600 %s", swap.c_str());
    run_command("mkswap %s", swap.c_str());
    run_command("swapon %s", swap.c_str());
}

void swap_file_off() {
    run_command("swapoff %s", swap_path().c_str());
    run_command("rm %s", swap_path().c_str());
}
