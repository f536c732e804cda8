#include "mcu/runs.h"

#include "cellular/cellular.h"
#include "core/clock_helpers.h"
#include "cloud/cloud_sync.h"
#include "core/config.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "image/picture_process.h"
#include "core/run_command.h"
#include "core/time_seam.h"
#include "mcu/uart.h"
#include "update/update_trial.h"

namespace {

constexpr int kTransferTries = 10;
constexpr int kRetryRestart = 5;

bool card_mounted() { return is_directory(device_path("/media/sdcard/").c_str()) == 1; }

// A whole run of failed tries: count down towards reporting a missing cable.
void count_failed_transfer() {
    int remaining = config_getRemainRetry();
    if (remaining <= 0) {
        config_setRemainRetry(kRetryRestart);
        return;
    }
    config_setRemainRetry(remaining - 1);
    if (remaining - 1 == 0) config_setSdCableOk(0);
}

}  // namespace

void run_transfer(const char*) {
    if (!card_mounted()) {
        mcu_send("0");
        return;
    }
    for (int attempt = 0; attempt < kTransferTries; ++attempt) {
        if (sdcable_transfer() == 0) {
            config_setRemainRetry(0);
            config_setSdCableOk(1);
            mcu_send("1");
            return;
        }
        sleep_seconds(1);
        mcu_send_ack();
        run_command("%s", device_path("/usrdata/sdcable_mount.sh").c_str());
    }
    count_failed_transfer();
    mcu_send("0");
}

void run_process(const char*) {
    if (card_mounted()) process_pictures();
}

void run_sync(const char*) {
    update_trial_sync_asked();
    log_event("sync", 0, "Start cellular transfert");
    cloud_sync(0);
    log_event("sync", 0, "End cellular transfert");
}

void run_firstsync(const char*) {
    update_trial_sync_asked();
    log_event("firstsync", 0, "Start first sync");
    config_setPowerOnTime(static_cast<int32_t>(clock_now()));
    cloud_sync(1);
    log_event("firstsync", 0, "End first sync");
}

void run_cell(const char*) { cellular_start(); }
