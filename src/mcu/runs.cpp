#include "runs.h"

#include "clock_helpers.h"
#include "config.h"
#include "event_log.h"

void run_transfer(const char*) {}

void run_process(const char*) {}

void run_sync(const char*) {
    log_event("sync", 0, "Start cellular transfert");
    log_event("sync", 0, "End cellular transfert");
}

void run_firstsync(const char*) {
    log_event("firstsync", 0, "Start first sync");
    config_setPowerOnTime(static_cast<int32_t>(clock_now()));
    log_event("firstsync", 0, "End first sync");
}

void run_cell(const char*) {}
