#pragma once
#include <cstddef>
#include <cstdint>

struct json_object;

// The daemon's settings and runtime status values. The settings, the token,
// the host and a few status values live in /etc/qz_daemon_conf.json; the rest
// start at zero with every process.
struct DaemonConfig {
    char tempUnit[3];
    int32_t firstSyncHour;
    int32_t firstSyncMin;
    int32_t syncFreq;
    int32_t battType;
    char s3token[2049];  // at most 2,048 characters
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

// Bits of requestUpdateReset: remote requests whose "execute" flag is to be reported false.
enum RequestResetBit : int32_t {
    kResetUpdate = 1,
    kResetLog = 2,
    kResetUpdateModem = 4,
    kResetUpdateSim = 8,
};

// Start-up: the configuration file, then CONFIG.REQ or else CONFIGPR.REQ.
void config_load();
// Writes the persisted fields to the configuration file (replaced atomically):
// 0, or -1 when the file could not be written.
int config_save();
// Applies the text of a "config" object, keeps it as appliedConfig and saves;
// the result of the save.
int config_apply(const char* text);
// The last applied "config" object, or null.
json_object* config_applied();

int config_getFirstSyncHour();
int config_getFirstSyncMinute();
int config_getTempUnitCode();
int config_getBattType();
void config_setBattAA(int value);
int config_getBattAA();
void config_setBattExt(int value);
int config_getBattExt();
void config_setPowerOnTime(int32_t when);
int32_t config_getInstallTime();
void config_setSdCableOk(int value);
int config_getSdCableOk();
void config_setMcuVersion(int version);
int config_getMcuVersion();
void config_setInaccurateDate(int value);
int config_getInaccurateDate();
int config_getInaccurateDateNotice();
int config_getRemainRetry();
void config_setRemainRetry(int value);
int config_getExifDateDrift();
void config_setExifDateDrift(int minutes);
int config_getRequestUpdateReset();
void config_toggleRequestUpdateReset(int bits);
int config_getUploadPictureCount();
void config_growUploadPictureCount(int k);
void config_setUploadPictureCount(int k);
void config_setToken(const char* text);
void config_getToken(char* buffer);
void config_getHost(char* buffer, size_t size);

// Host used when the service has handed down none.
constexpr const char* kDefaultCloudHost = "camapi.example.com";
