#include "device_tools.h"

#include <string>

#include "device_root.h"
#include "run_command.h"

namespace {

std::string swap_path() { return device_path("/media/sdcard/swap"); }

}  // namespace

int jpeg_compress(const char* path, int target_kb) {
    std::string tool = device_path("/usrdata/jpegoptim");
    std::string size = "-S" + std::to_string(target_kb);
    const char* const argv[] = {tool.c_str(), size.c_str(), "--strip-com", "--strip-iptc",
                                "--strip-icc", "--strip-xmp", path, nullptr};
    return run_program(argv);
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
