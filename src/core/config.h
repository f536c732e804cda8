#pragma once
#include <cstddef>
#include <cstdint>

// The daemon's settings and runtime status values. Persisted fields live in
// /etc/qz_daemon_conf.json; the rest start at zero with every process.
struct DaemonConfig {
    char tempUnit[3];
    int32_t firstSyncHour;
    int32_t firstSyncMin;
    int32_t syncFreq;
    int32_t battType;
    char s3token[65];
    char host[255];
    int32_t requestUpdateReset;
    int32_t exifDateDrift;
    int32_t uploadPictureCount;
    int32_t battAA;
    int32_t battExt;
    int32_t powerOnTime;
    int32_t sdAvailableMiB;
    int32_t sdUsedMiB;
    int32_t sdCableOk;
    int32_t mcuVersion;
    int32_t inaccurateDate;
    int32_t inaccurateDateNotice;
    int32_t remainRetry;
};

extern DaemonConfig g_config;

// Back to the start values, appliedConfig dropped (tests call this).
void config_reset();

int config_getMcuVersion();
void config_setMcuVersion(int version);
