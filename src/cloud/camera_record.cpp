#include "cloud/camera_record.h"

#include <json-c/json.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/cellular_status.h"
#include "core/clock_helpers.h"
#include "cloud/cloud_api.h"
#include "core/config.h"
#include "core/daemon_state.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "board/probes.h"
#include "cloud/requests.h"
#include "cellular/signal_quality.h"
#include "cloud/transport.h"
#include "update/update_trial.h"
#include "cloud/uploads.h"
#include "core/version.h"

namespace {

constexpr const char* kModel = "TORVEX-C1";
constexpr const char* kSdCard = "/media/sdcard";

struct Acknowledgement {
    const char* kind;
    int bit;
};
// The order in which the service expects the kinds.
constexpr Acknowledgement kAcknowledgements[] = {
    {"update", kResetUpdate},
    {"updateSim", kResetUpdateSim},
    {"log", kResetLog},
    {"updateModem", kResetUpdateModem},
};

struct BatteryThresholds {
    int battType;  // -1: every other type
    int aaFineFrom;
    int aaLowUpTo;
};
constexpr BatteryThresholds kBatteryThresholds[] = {
    {2, 362, 350},
    {3, 520, 500},
    {-1, 468, 460},
};
constexpr int kExtFineAbove = 103;
constexpr int kExtLowUpTo = 100;

// An answer holds the requests and one instruction per picture offered (a
// long signed URL and a few headers each); anything beyond is refused unread.
constexpr size_t kAnswerPerPicture = 4 * 1024;
constexpr size_t kAnswerMax = 512 * 1024;

// What the cellular manager last recorded about the SIM and the network.
struct RadioReport {
    SimIdentity sim;
    Registration registration;
    int bars;
    int dbm;
};

RadioReport radio_report() {
    RadioReport radio{sim_slot_identity(*g_cellular.currentSlot.load()), cellular_registration(), 0, 0};
    radio.bars = signal_bars();
    radio.dbm = signal_dbm_typed();
    return radio;
}

int clamp_percent(int64_t value) { return static_cast<int>(std::min<int64_t>(value, 100)); }

int external_percent(int64_t ext) { return ext > 100 ? clamp_percent((ext - 100) * 100 / 22) : 0; }

int internal_percent(int64_t aa, int battType) {
    switch (battType) {
        case 2:
            return aa > 350 ? clamp_percent((aa - 350) * 100 / 65) : 0;
        case 3:
            return aa > 500 ? clamp_percent(aa - 500) : 0;
        default:
            return aa > 460 ? clamp_percent((aa - 460) * 100 / 140) : 0;
    }
}

const char* internal_type(int battType) {
    if (battType == 0) return "AA";
    return battType == 3 ? "AA_LIT" : "KRB10";
}

bool card_present() { return is_directory(device_path(kSdCard).c_str()) == 1; }

json_object* signal_object(const RadioReport& radio) {
    json_object* signal = json_object_new_object();
    json_object_object_add(signal, "bar", json_object_new_int(radio.bars));
    const Registration& r = radio.registration;
    json_object_object_add(signal, "mnc", json_object_new_int(std::atoi(r.mnc)));
    json_object_object_add(signal, "type", json_object_new_string(r.radioType));
    json_object_object_add(signal, "mcc", json_object_new_int(std::atoi(r.mcc)));
    json_object_object_add(signal, "dBm", json_object_new_int(radio.dbm));
    json_object_object_add(signal, "imsi", json_object_new_string(radio.sim.imsi));
    json_object_object_add(signal, "cellid", json_object_new_int(static_cast<int32_t>(r.cellId)));
    json_object_object_add(signal, "lac", json_object_new_int(r.lac));
    return signal;
}

json_object* memory_object() {
    bool present = card_present();
    json_object* memory = json_object_new_object();
    json_object_object_add(memory, "size", json_object_new_int(present ? sd_available_mib() : 0));
    json_object_object_add(memory, "used", json_object_new_int(present ? sd_used_mib() : 0));
    return memory;
}

json_object* notifications_array(int batteryClass) {
    json_object* notes = json_object_new_array();
    if (!card_present()) json_object_array_add(notes, json_object_new_string("missing_sd_card"));
    if (batteryClass == 1) json_object_array_add(notes, json_object_new_string("low_battery"));
    if (config_getInaccurateDateNotice() == 1)
        json_object_array_add(notes, json_object_new_string("inaccurate_date"));
    if (config_getSdCableOk() == 0) {
        json_object* cable = json_object_new_object();
        json_object_object_add(cable, "message", json_object_new_string("missing_sd_cable"));
        json_object_array_add(notes, cable);
    }
    return notes;
}

json_object* temperature_object() {
    int celsius = board_temperature();
    bool metric = config_getTempUnitCode() == 1;
    json_object* temperature = json_object_new_object();
    json_object_object_add(temperature, "value",
                           json_object_new_int(metric ? celsius : celsius_to_fahrenheit(celsius)));
    json_object_object_add(temperature, "unit", json_object_new_string(metric ? "C" : "F"));
    return temperature;
}

size_t answer_limit(json_object* offered) {
    const size_t pictures = offered ? json_object_array_length(offered) : 0;
    return std::min(kHttpAnswerLimit + kAnswerPerPicture * pictures, kAnswerMax);
}

// A PUT counts only when it completed with a 2xx status. A refused token is
// forgotten whatever else went wrong, so the next attempt fetches a new one.
bool put_accepted(int result, char* token, const std::string& url) {
    if (result < 0) {
        log_event("PutCamera", 2, "Put camera failed: Curl fatal error");
        return false;
    }
    long status = http_last_status();
    if (status == 401 || status == 403) cloud_token_reset(token);
    if (http_last_accepted()) return true;
    if (http_last_answer_too_large())
        log_event("PutCamera", 2, "Answer too large: %s", url.c_str());
    else
        log_event("PutCamera", 2, "Put camera failed: %s", http_last_failure_text());
    return false;
}

// The service has seen the acknowledgements it was sent.
void clear_acknowledged(int carried) {
    int stillSet = carried & config_getRequestUpdateReset();
    if (stillSet) config_toggleRequestUpdateReset(stillSet);
}

// Acts on an accepted answer to a document that offered `offered`; true when
// the exchange is finished.
bool act_on_answer(json_object* answer, json_object* offered, int mode, const std::string& url,
                   const char* token) {
    if (json_object* requests = json_member_object(answer, "requests"))
        requests_carry_out(requests, url.c_str(), token);
    if (json_object* config = json_member_object(answer, "config")) {
        const char* text = json_object_to_json_string(config);
        log_event("config", 0, "%s", text);
        config_apply(text);
    }
    json_object* uploads = json_member_array(answer, "uploads");
    if (uploads == nullptr) {
        log_event("sync", 1, "Nothing to upload");
        return true;
    }
    return uploads_carry_out(uploads, offered, mode);
}

}  // namespace

BatteryReport battery_report(int battExt, int battAA, int battType) {
    int external = external_percent(battExt);
    int internal = internal_percent(battAA, battType);
    if (battAA < 100 || external > internal) return {external, "12V"};
    return {internal, internal_type(battType)};
}

int battery_level_class(int battExt, int battAA) {
    int battType = config_getBattType();
    // The last row serves every type without a row of its own.
    const BatteryThresholds* row = std::find_if(
        std::begin(kBatteryThresholds), std::end(kBatteryThresholds) - 1,
        [battType](const BatteryThresholds& r) { return r.battType == battType; });
    if (battExt > kExtFineAbove || battAA >= row->aaFineFrom) return 0;
    if (battExt <= kExtLowUpTo && battAA <= row->aaLowUpTo) return 2;
    return 1;
}

JsonPtr camera_status_build() {
    int aa = config_getBattAA();
    int ext = config_getBattExt();
    BatteryReport battery = battery_report(ext, aa, config_getBattType());
    RadioReport radio = radio_report();
    json_object* signal = signal_object(radio);
    json_object* memory = memory_object();
    json_object* notes = notifications_array(battery_level_class(ext, aa));
    json_object* temperature = temperature_object();

    char version[50];
    version_string(version, sizeof version);
    char lastUpdate[30];
    clock_iso8601_now(lastUpdate, sizeof lastUpdate);
    char installDate[30];
    clock_format(config_getInstallTime(), installDate, sizeof installDate);

    JsonPtr status(json_object_new_object());
    json_object* s = status.get();
    json_object_object_add(s, "sim", json_object_new_string(radio.sim.iccid));
    json_object_object_add(s, "model", json_object_new_string(kModel));
    json_object_object_add(s, "version", json_object_new_string(version));
    json_object_object_add(s, "lastUpdate", json_object_new_string(lastUpdate));
    json_object* batteries = json_object_new_array();
    json_object_array_add(batteries, json_object_new_int(battery.percent));
    json_object_object_add(s, "batteries", batteries);
    json_object_object_add(s, "batteryType", json_object_new_string(battery.type));
    json_object_object_add(s, "signal", signal);
    json_object_object_add(s, "memory", memory);
    json_object_object_add(s, "temperature", temperature);
    json_object_object_add(s, "installDate", json_object_new_string(installDate));
    json_object_object_add(s, "modemFirmware", json_object_new_string(g_state.modemFirmware));
    json_object_object_add(s, "inaccurateDate", json_object_new_boolean(config_getInaccurateDate()));
    json_object* capability = json_object_new_object();
    json_object_object_add(capability, "hdRequest", json_object_new_boolean(1));
    json_object_object_add(s, "capability", capability);
    if (json_object_array_length(notes) > 0)
        json_object_object_add(s, "notifications", notes);
    else
        json_object_put(notes);
    return status;
}

int request_resets_add(json_object* document) {
    int bits = config_getRequestUpdateReset();
    int added = 0;
    json_object* requests = json_object_new_object();
    for (const Acknowledgement& ack : kAcknowledgements) {
        if ((bits & ack.bit) == 0) continue;
        json_object* done = json_object_new_object();
        json_object_object_add(done, "execute", json_object_new_boolean(0));
        json_object_object_add(requests, ack.kind, done);
        added |= ack.bit;
    }
    if (added)
        json_object_object_add(document, "requests", requests);
    else
        json_object_put(requests);
    return added;
}

int cloud_camera_exchange(char* token, int mode) {
    Registration registration = cellular_registration();
    log_event("cellular", 0, "MCC: %s MNC: %s", registration.mcc, registration.mnc);
    JsonPtr status = camera_status_build();
    log_event("status", 0, "%s", json_object_to_json_string(status.get()));
    JsonPtr document(json_object_new_object());
    json_object_object_add(document.get(), "status", status.release());
    uploads_list_add(document.get(), mode);
    int carried = request_resets_add(document.get());

    char host[255];
    config_getHost(host, sizeof host);
    std::string url = cloud_api_url("camera");
    log_event("sync", 0, "Host: %s", host);
    for (;;) {
        JsonPtr offered(json_object_get(json_member_array(document.get(), "uploads")));
        JsonPtr answer;
        int result = http_put_json(url.c_str(), &answer, document.get(), token, answer_limit(offered.get()));
        document.reset();
        if (!put_accepted(result, token, url)) return -1;
        update_trial_commit();
        clear_acknowledged(carried);
        if (act_on_answer(answer.get(), offered.get(), mode, url, token)) return 0;
        answer.reset();
        document.reset(json_object_new_object());
        if (uploads_list_add(document.get(), 0) < 1) return 0;
        carried = request_resets_add(document.get());
    }
}
