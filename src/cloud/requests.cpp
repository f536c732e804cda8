#include "cloud/requests.h"

#include <json-c/json.h>
#include <unistd.h>

#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/atomic_file.h"
#include "core/clock_helpers.h"
#include "core/config.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "image/hd_picture.h"
#include "cloud/instruction.h"
#include "core/json_util.h"
#include "core/run_command.h"
#include "cloud/sync_bounds.h"
#include "cloud/transport.h"
#include "mcu/uart.h"
#include "update/update.h"
#include "core/version.h"

namespace {

constexpr const char* kSdCard = "/media/sdcard/";
constexpr const char* kFotaFolder = "/usrdata/cache/fota";
constexpr const char* kModemPackage = "/usrdata/cache/fota/ipth_package.bin";
constexpr const char* kRestartLevel = "/sys/bus/msm_subsys/devices/subsys1/restart_level";
constexpr const char* kLogPrefix = "log.txt";
constexpr uint64_t kMinuteUs = 60000000;

// The request's "content" when it has the expected type and, unless the
// kind carries no flag, the service asks for it to be carried out.
json_object* requested_content(json_object* requests, const char* kind, json_type type, bool flagged = true) {
    json_object* request = json_member_object(requests, kind);
    json_object* execute = nullptr;
    json_object* content = nullptr;
    if (request == nullptr || !json_object_object_get_ex(request, "content", &content) ||
        !json_object_is_type(content, type))
        return nullptr;
    if (!flagged) return content;
    bool executable = json_object_object_get_ex(request, "execute", &execute) &&
                      json_object_is_type(execute, json_type_boolean) && json_object_get_boolean(execute);
    return executable ? content : nullptr;
}

size_t instruction_count(json_object* content) { return json_object_array_length(content); }

json_object* instruction_at(json_object* content, size_t index) {
    return json_object_array_get_idx(content, index);
}

void log_content(json_object* content) { log_event("request", 0, "%s", json_object_to_json_string(content)); }

enum class Download { kDone, kFailed, kNotOpened, kSkipped };

// Downloads into a temporary file beside `path`, renamed over it only when the
// whole answer arrived with a 2xx status: a failed or refused download never
// leaves half a package where the next start-up looks for one.
Download download_to(const std::string& path, json_object* instruction, const char* tag) {
    TransferTarget target;
    if (!transfer_target_read(instruction, tag, path.c_str(), target)) return Download::kSkipped;
    bool opened = false;
    int result = kHttpFailed;
    int written = atomic_file_write(device_path(path).c_str(), [&](FILE* file) {
        opened = true;
        result = http_download_file(target.url.c_str(), target.verb, file, target.headers);
        return result == kHttpCompleted && http_last_accepted();
    });
    if (!opened) {
        log_event("sync", 2, "Failed to open file: %s", path.c_str());
        return Download::kNotOpened;
    }
    if (written == 0) return Download::kDone;
    if (result == kHttpCompleted && http_last_accepted())
        log_event(tag, 2, "Failed to write file: %s", path.c_str());
    else
        log_transfer_failure(tag, result, path.c_str(), "nothing written");
    return Download::kFailed;
}

void carry_out_update(json_object* content) {
    log_content(content);
    for (size_t i = 0; i < instruction_count(content); ++i) {
        json_object* instruction = instruction_at(content, i);
        const char* name = json_member_raw_string(instruction, "name");
        if (name == nullptr) continue;
        // The name becomes a path on the card, written as root.
        if (!plain_file_name(name)) {
            log_event("update", 2, "Refused file name: %s", printable_name(name).c_str());
            continue;
        }
        Download outcome = download_to(std::string(kSdCard) + name, instruction, "update");
        if (outcome == Download::kNotOpened) return;
        if (outcome != Download::kDone) continue;
        update_check(config_getMcuVersion(), kDaemonVersion);
        config_toggleRequestUpdateReset(kResetUpdate);
    }
}

void carry_out_update_modem(json_object* content) {
    log_content(content);
    // Emptied whole, hidden files too: a download cut short leaves a hidden temporary file.
    std::string folder = device_path(kFotaFolder);
    remove_tree(folder.c_str());
    std::error_code ignored;  // a folder that cannot be made fails the download's open, which logs it
    std::filesystem::create_directories(folder, ignored);
    for (size_t i = 0; i < instruction_count(content); ++i) {
        mcu_send_ack();
        Download outcome = download_to(kModemPackage, instruction_at(content, i), "updateModem");
        if (outcome == Download::kNotOpened) return;
        if (outcome != Download::kDone) continue;
        log_event("updateModem", 1, "Update modem");
        mcu_send_ack();
        run_command("sync \"%s\"", device_path(kRestartLevel).c_str());
        mcu_send_ack();
        config_toggleRequestUpdateReset(kResetUpdateModem);
        // Restarts the module into its recovery system, which installs the package.
        run_command("sync && sys_reboot recovery");
    }
}

// Longer waits keep the module on, draining the battery, for a mistake of the
// service: a sync grants an hour in all, whatever it is asked.
void carry_out_update_sim(json_object* content) {
    const int64_t asked = json_object_get_int64(content);
    const int64_t minutes = sync_take_sim_wait_minutes(asked);
    if (minutes < asked)
        log_event("camapi", 1, "Sim update wait of %" PRId64 " minutes cut to %" PRId64, asked, minutes);
    log_event("camapi", 0, "Wait for sim update for %" PRId64 " minutes", minutes);
    for (int64_t i = 0; i < minutes; ++i) {
        mcu_send_ack();
        sync_pause(kMinuteUs);
    }
    config_toggleRequestUpdateReset(kResetUpdateSim);
}

void carry_out_log(json_object* content) {
    log_event("log", 0, "Log request");
    for (size_t i = 0; i < instruction_count(content); ++i) {
        mcu_send_ack();
        json_object* instruction = instruction_at(content, i);
        const char* name = json_member_string(instruction, "name");
        // "log.txt/../..." begins with the prefix too: only plain names are served.
        if (name == nullptr || std::strncmp(name, kLogPrefix, std::strlen(kLogPrefix)) != 0 ||
            !plain_file_name(name))
            continue;
        std::string path = std::string(kSdCard) + name;
        FilePtr file(std::fopen(device_path(path).c_str(), "rb"));
        if (!file) {
            log_event("log", 2, "Failed to open file: %s", path.c_str());
            continue;
        }
        TransferTarget target;
        if (!transfer_target_read(instruction, "log", name, target)) continue;
        int result = http_upload_file(target.url.c_str(), target.verb, file.get(), file_length(file.get()),
                                      target.headers);
        file.reset();
        if (result == kHttpCompleted && http_last_accepted()) {
            mcu_send_ack();
            config_toggleRequestUpdateReset(kResetLog);
        } else {
            log_transfer_failure("log", result, name, "not acknowledged");
        }
    }
}

// Sends the HD copy the lookup prepared, then deletes it; the result message.
const char* send_hd_copy(const char* name, const char* hdPath, json_object* instruction) {
    FilePtr file(std::fopen(hdPath, "rb"));
    if (!file) {
        log_event("log", 2, "Failed to open file: %s", name);
        return "sdCardError";
    }
    TransferTarget target;
    const char* message = "uploadFailed";
    if (transfer_target_read(instruction, "hdod", name, target)) {
        int result = http_upload_file(target.url.c_str(), target.verb, file.get(), file_length(file.get()),
                                      target.headers);
        if (result == kHttpCompleted && http_last_accepted()) {
            mcu_send_ack();
            message = "";
        } else {
            log_event("hdod", 2, "HD picture request failed (%s): %s; reported as uploadFailed", name,
                      transfer_failure_text(result));
        }
    }
    file.reset();
    unlink(hdPath);
    return message;
}

// The outcome of one HD request: "" when its copy was sent. The lookup takes
// only plain names that fit its path, so a name never reaches a command.
const char* serve_hd_request(const char* name, const char* date, json_object* instruction) {
    // Preparing a copy that could not be sent would only cost time.
    if (sync_time_left_us() == 0) return "uploadFailed";
    char hdPath[PATH_MAX] = {};
    int32_t found = hd_lookup(name, date, hdPath, sizeof hdPath);
    if (found == 1) return "unavailable";
    if (found != 0) return "sdCardError";
    return send_hd_copy(name, hdPath, instruction);
}

json_object* picture_result(const char* name, const char* date, const char* message) {
    json_object* result = json_object_new_object();
    json_object_object_add(result, "name", json_object_new_string(name));
    json_object_object_add(result, "date", json_object_new_string(date));
    json_object_object_add(result, "success", json_object_new_boolean(message[0] == '\0'));
    json_object_object_add(result, "message", json_object_new_string(message));
    return result;
}

void send_picture_results(json_object* results, const char* cameraUrl, const char* token) {
    JsonPtr document(json_object_new_object());
    json_object* requests = json_object_new_object();
    json_object* pictures = json_object_new_object();
    json_object_object_add(document.get(), "requests", requests);
    json_object_object_add(requests, "pictures", pictures);
    json_object_object_add(pictures, "result", results);
    int result = http_put_json(cameraUrl, nullptr, document.get(), token);
    if (result < 0)
        log_event("hdresult", 2, "Send pictures results failed: Fatal CURL error");
    else if (!http_last_accepted())
        log_event("hdresult", 2, "Send pictures results failed: %s", http_last_failure_text());
}

void carry_out_pictures(json_object* content, const char* cameraUrl, const char* token) {
    json_object* results = json_object_new_array();
    for (size_t i = 0; i < instruction_count(content); ++i) {
        mcu_send_ack();
        json_object* request = instruction_at(content, i);
        const char* name = json_member_string(request, "name");
        const char* date = json_member_string(request, "date");
        if (name == nullptr || date == nullptr) continue;
        json_object_array_add(results, picture_result(name, date, serve_hd_request(name, date, request)));
    }
    send_picture_results(results, cameraUrl, token);
}

}  // namespace

void requests_remove_stale_downloads() {
    // The card's folder itself, and the folder of the modem package.
    for (const char* path : {kSdCard, kModemPackage}) atomic_file_remove_stale(device_path(path).c_str());
}

void requests_carry_out(json_object* requests, const char* cameraUrl, const char* token) {
    if (json_object* content = requested_content(requests, "update", json_type_array)) carry_out_update(content);
    if (json_object* content = requested_content(requests, "updateModem", json_type_array))
        carry_out_update_modem(content);
    if (json_object* content = requested_content(requests, "updateSim", json_type_int)) carry_out_update_sim(content);
    if (json_object* content = requested_content(requests, "log", json_type_array)) carry_out_log(content);
    if (json_object* content = requested_content(requests, "pictures", json_type_array, false))
        carry_out_pictures(content, cameraUrl, token);
}
