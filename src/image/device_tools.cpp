#include "image/device_tools.h"

#include <cstdint>
#include <string>

#include "core/clock_helpers.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "board/probes.h"
#include "core/run_command.h"

namespace {

// The card keeps this much room beside the swap file, for the pictures and the log.
constexpr uint64_t kRoomBeside = 1024 * 1024;

std::string swap_path() { return device_path("/media/sdcard/swap"); }

}  // namespace

int jpeg_compress(const char* path, int target_kb) {
    std::string tool = device_path("/usrdata/jpegoptim");
    std::string size = "-S" + std::to_string(target_kb);
    const char* const argv[] = {tool.c_str(), size.c_str(), "--strip-com", "--strip-iptc",
                                "--strip-icc", "--strip-xmp", path, nullptr};
    return run_program(argv);
}

bool swap_file_on(int kib) {
    if (sd_available_bytes() < uint64_t(kib) * 1024 + kRoomBeside) {
        log_event("process", 1, "No room for a swap file");
        return false;
    }
    const std::string swap = swap_path();
    run_command("rm %s", swap.c_str());
    // A card that filled up meanwhile leaves a part of the file: it goes.
    if (run_command("dd if=/dev/zero of=%s bs=1024 count=%d", swap.c_str(), kib) != 0) {
        run_command("rm %s", swap.c_str());
        return false;
    }
    run_command("chmod 600 %s", swap.c_str());
    run_command("mkswap %s", swap.c_str());
    run_command("swapon %s", swap.c_str());
    return true;
}

void swap_file_off() {
    run_command("swapoff %s", swap_path().c_str());
    run_command("rm %s", swap_path().c_str());
}

void swap_file_remove_stale() {
    if (file_exists(swap_path().c_str())) swap_file_off();
}
