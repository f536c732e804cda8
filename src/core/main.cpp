// qz_daemon: the application of the camera add-on's LTE module.
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "board/board_gpio.h"
#include "core/config.h"
#include "core/daemon_state.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "cellular/identity.h"
#include "image/picture_process.h"
#include "mcu/power.h"
#include "board/probes.h"
#include "cloud/requests.h"
#include "core/run_command.h"
#include "core/time_seam.h"
#include "mcu/uart.h"
#include "update/update.h"
#include "update/update_trial.h"
#include "core/version.h"

namespace {

// Picture buffers of several MiB come straight from the kernel and go back to
// it when freed; glibc would otherwise raise its threshold after the first one
// and keep later ones in a heap that never shrinks on a module short of memory.
void keep_large_buffers_returnable() { mallopt(M_MMAP_THRESHOLD, 256 * 1024); }

[[noreturn]] void reboot_after_update() {
    log_event("main", 0, "Reboot after update");
    power_action(1);
    daemon_exit(0);
}

// A package installed before either serial port is opened takes effect only
// after a restart.
void install_pending_update() {
    if (update_check(config_getMcuVersion(), kDaemonVersion) != 0) reboot_after_update();
}

// Before any port or library is touched: a new daemon on trial that has used
// up its starts without a camera record accepted gives way to the kept one.
void count_trial_start() {
    if (update_trial_start()) reboot_after_update();
}

// Answers without detaching or touching any device, so that the update check
// can try a new daemon before it is trusted.
int print_version() {
    char text[64];
    daemon_version_text(text, sizeof text);
    std::printf("%s\n", text);
    return 0;
}

void start_up() {
    daemon(1, 1);
    keep_large_buffers_returnable();
    // Diagnostics go to the inherited stdout; unbuffered so nothing is lost at a power cut.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    device_root_init();
    log_event("main", 0, "Modem power-on");
    count_trial_start();
    remove_stale_picture_temporaries();
    requests_remove_stale_downloads();
    config_load();
    install_pending_update();
    run_command("%s", device_path("/usrdata/prune.sh").c_str());
    at_port_start();
    board_gpio_init();
    g_state.boardRevision = board_revision();
    identity_read();
    if (log_event("Modem", 0, "Firmware: %s", g_state.modemFirmware) != 1) std::printf("Log failed");
    mcu_port_start();
    board_temperature();
}

[[noreturn]] void heartbeat() {
    sleep_seconds(4);
    for (;;) {
        sleep_seconds(1);
        if (g_state.mcuSpoke.load() == 0) mcu_send("RDY\r\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) return print_version();
    start_up();
    heartbeat();
}
