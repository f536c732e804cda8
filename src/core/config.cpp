#include "core/config.h"

#include <json-c/json.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/atomic_file.h"
#include "core/clock_helpers.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "core/json_util.h"

DaemonConfig g_config;

namespace {

JsonPtr g_applied;

constexpr const char* kConfigFile = "/etc/qz_daemon_conf.json";

struct BatteryName {
    const char* text;
    int32_t code;
};
// Any other text is an AA battery (code 0).
constexpr BatteryName kBatteryNames[] = {{"KRB10", 2}, {"12V", 1}, {"AA_LIT", 3}};

int32_t battery_code(const char* text) {
    for (const auto& battery : kBatteryNames)
        if (std::strncmp(text, battery.text, 10) == 0) return battery.code;
    return 0;
}

// Reads an integer member into a 32-bit field, or stores the fallback when missing.
void load_int(json_object* file, const char* key, int32_t& field, int32_t fallback) {
    if (!json_member_int32(file, key, field)) field = fallback;
}

void load_int_if_present(json_object* file, const char* key, int32_t& field) {
    load_int(file, key, field, field);
}

void load_text_if_present(json_object* file, const char* key, char* field, size_t size) {
    if (const char* text = json_member_string(file, key)) copy_text(field, size, text);
}

void load_file(json_object* file) {
    DaemonConfig& c = g_config;
    load_int_if_present(file, "powerOnTime", c.powerOnTime);
    const char* unit = json_member_string(file, "tempUnit");
    copy_text(c.tempUnit, sizeof c.tempUnit, unit ? unit : "C");
    load_int_if_present(file, "firstSyncHour", c.firstSyncHour);
    load_int_if_present(file, "firstSyncMin", c.firstSyncMin);
    load_int_if_present(file, "syncFreq", c.syncFreq);
    load_int(file, "battType", c.battType, 0);
    load_text_if_present(file, "s3token", c.s3token, sizeof c.s3token);
    load_text_if_present(file, "host", c.host, sizeof c.host);
    load_int(file, "requestUpdateReset", c.requestUpdateReset, 0);
    load_int(file, "mcuVersion", c.mcuVersion, 0);
    load_int(file, "remainRetry", c.remainRetry, 0);
    load_int(file, "exifDateDrift", c.exifDateDrift, 0);
    load_int(file, "inaccurateDate", c.inaccurateDate, 0);
    load_int(file, "uploadPictureCount", c.uploadPictureCount, 50);
}

// Applies the "config" member of a request file. -1 only when it was
// applied but could not be saved; a request without one counts as done.
int apply_request(const std::string& line) {
    JsonPtr request = json_parse(line.c_str());
    json_object* config = json_member_object(request.get(), "config");
    if (config == nullptr) return 0;
    const char* text = json_object_to_json_string(config);
    log_event("config", 0, "%s", text);
    return config_apply(text);
}

void load_requests() {
    const std::string oneShot = device_path("/media/sdcard/CONFIG.REQ");
    const std::string standing = device_path("/media/sdcard/CONFIGPR.REQ");
    std::string line;
    if (access(oneShot.c_str(), F_OK) == 0) {
        if (!file_exists(oneShot.c_str())) return;
        const bool read = read_first_line(oneShot, line);
        // Removed only once saved: a request whose save failed is applied again next start.
        if (!read || apply_request(line) == 0) unlink(oneShot.c_str());
        return;
    }
    if (access(standing.c_str(), F_OK) == 0 && read_first_line(standing, line))
        apply_request(line);
}

// Looks up "transmitTime"/<key> in appliedConfig, logging when it is missing.
int first_sync_field(const char* key, int32_t fallback, const char* missing) {
    int32_t value = 0;
    json_object* time = json_member_object(g_applied.get(), "transmitTime");
    if (json_member_int32(time, key, value)) return value;
    log_event("config", 1, "%s", missing);
    return fallback;
}

// The host goes into every URL: only a host name or an IPv4 address with an
// optional ":port" is taken, nothing that could add a path, a user or a query.
bool plain_host(const char* host) {
    const char* colon = std::strchr(host, ':');
    const size_t nameLength = colon ? static_cast<size_t>(colon - host) : std::strlen(host);
    auto nameChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
    };
    if (nameLength == 0 || std::strlen(host) >= sizeof g_config.host || !std::all_of(host, host + nameLength, nameChar))
        return false;
    if (colon == nullptr) return true;
    char* end = nullptr;
    long port = std::strtol(colon + 1, &end, 10);
    return colon[1] >= '0' && colon[1] <= '9' && *end == '\0' && port >= 1 && port <= 65535;
}

int32_t clamp_upload_count(int32_t k) { return k < 5 ? 5 : (k > 50 ? 50 : k); }

}  // namespace

// For tests (state_reset.h).
void config_reset() {
    g_config = DaemonConfig{};
    g_applied.reset();
}

json_object* config_applied() { return g_applied.get(); }

void config_load() {
    // A save cut short by a power cut leaves its temporary file beside the file.
    atomic_file_remove_stale(device_path(kConfigFile).c_str());
    std::string line;
    if (read_first_line(device_path(kConfigFile), line) && !line.empty()) {
        JsonPtr file = json_parse(line.c_str());
        load_file(file.get());
    }
    load_requests();
}

int config_save() {
    const DaemonConfig& c = g_config;
    JsonPtr object(json_object_new_object());
    json_object* o = object.get();
    json_object_object_add(o, "powerOnTime", json_object_new_int64(c.powerOnTime));
    json_object_object_add(o, "tempUnit", json_object_new_string(c.tempUnit));
    json_object_object_add(o, "firstSyncHour", json_object_new_int(c.firstSyncHour));
    json_object_object_add(o, "firstSyncMin", json_object_new_int(c.firstSyncMin));
    json_object_object_add(o, "syncFreq", json_object_new_int(c.syncFreq));
    json_object_object_add(o, "battType", json_object_new_int(c.battType));
    json_object_object_add(o, "s3token", json_object_new_string(c.s3token));
    json_object_object_add(o, "host", json_object_new_string(c.host));
    json_object_object_add(o, "requestUpdateReset", json_object_new_int(c.requestUpdateReset));
    json_object_object_add(o, "mcuVersion", json_object_new_int(c.mcuVersion));
    json_object_object_add(o, "remainRetry", json_object_new_int(c.remainRetry));
    json_object_object_add(o, "exifDateDrift", json_object_new_int(c.exifDateDrift));
    json_object_object_add(o, "inaccurateDate", json_object_new_int(c.inaccurateDate));
    json_object_object_add(o, "uploadPictureCount", json_object_new_int(c.uploadPictureCount));
    const char* text = json_object_to_json_string(o);
    return atomic_file_write(device_path(kConfigFile).c_str(), [text](FILE* file) {
        size_t length = std::strlen(text);
        return std::fwrite(text, 1, length, file) == length;
    });
}

int config_apply(const char* text) {
    g_applied = json_parse(text);
    json_object* config = g_applied.get();
    DaemonConfig& c = g_config;
    if (const char* unit = json_member_string(config, "temperatureUnit"))
        copy_text(c.tempUnit, sizeof c.tempUnit, unit);
    c.firstSyncHour = config_getFirstSyncHour();
    c.firstSyncMin = config_getFirstSyncMinute();
    int32_t frequency = 0;
    c.syncFreq = json_member_int32(config, "transmitFreq", frequency) && frequency >= 1 ? frequency : 6;
    if (const char* battery = json_member_string(config, "batteryType"))
        c.battType = battery_code(battery);
    if (const char* host = json_member_string(json_member_object(config, "ssl"), "host")) {
        if (plain_host(host))
            copy_text(c.host, sizeof c.host, host);
        else
            log_event("config", 2, "Refused host: %s", host);
    }
    return config_save();
}

int config_getFirstSyncHour() {
    return first_sync_field("hour", g_config.firstSyncHour,
                            "config_getFirstSyncHour - hour object not found");
}

int config_getFirstSyncMinute() {
    return first_sync_field("minute", g_config.firstSyncMin,
                            "config_getFirstSyncMinute - minute object not found");
}

int config_getTempUnitCode() { return std::strcmp(g_config.tempUnit, "C") == 0 ? 1 : 2; }
int config_getBattType() { return g_config.battType; }
void config_setBattAA(int value) { g_config.battAA = value; }
int config_getBattAA() { return g_config.battAA; }
void config_setBattExt(int value) { g_config.battExt = value; }
int config_getBattExt() { return g_config.battExt; }

void config_setPowerOnTime(int32_t when) {
    g_config.powerOnTime = when;
    config_save();
}

int32_t config_getInstallTime() {
    return g_config.powerOnTime > 0 ? g_config.powerOnTime : static_cast<int32_t>(clock_now());
}

void config_setSdCableOk(int value) {
    g_config.sdCableOk = value;
    config_save();
}
int config_getSdCableOk() { return g_config.sdCableOk; }
void config_setMcuVersion(int version) { g_config.mcuVersion = version; }
int config_getMcuVersion() { return g_config.mcuVersion; }

void config_setInaccurateDate(int value) {
    g_config.inaccurateDate = value;
    g_config.inaccurateDateNotice = value;
    config_save();
}
int config_getInaccurateDate() { return g_config.inaccurateDate; }
int config_getInaccurateDateNotice() { return g_config.inaccurateDateNotice; }
int config_getRemainRetry() { return g_config.remainRetry; }
void config_setRemainRetry(int value) { g_config.remainRetry = value; }
int config_getExifDateDrift() { return g_config.exifDateDrift; }
void config_setExifDateDrift(int minutes) { g_config.exifDateDrift = minutes; }
int config_getRequestUpdateReset() { return g_config.requestUpdateReset; }

void config_toggleRequestUpdateReset(int bits) {
    g_config.requestUpdateReset ^= bits;
    config_save();
}

int config_getUploadPictureCount() { return g_config.uploadPictureCount; }

void config_growUploadPictureCount(int k) {
    int32_t grown = k + 5 > g_config.uploadPictureCount ? k + 5 : g_config.uploadPictureCount;
    g_config.uploadPictureCount = clamp_upload_count(grown);
}

void config_setUploadPictureCount(int k) { g_config.uploadPictureCount = clamp_upload_count(k); }

void config_setToken(const char* text) { copy_text(g_config.s3token, sizeof g_config.s3token, text); }
void config_getToken(char* buffer) { copy_text(buffer, sizeof g_config.s3token, g_config.s3token); }

void config_getHost(char* buffer, size_t size) {
    copy_text(buffer, size, g_config.host[0] ? g_config.host : kDefaultCloudHost);
}
