#include "update.h"

#include <json-c/json.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "clock_helpers.h"
#include "device_root.h"
#include "event_log.h"
#include "json_util.h"
#include "mcu_flash.h"
#include "run_command.h"

namespace {

constexpr const char* kPackage = "/media/sdcard/update.tar.gz";
constexpr const char* kManifest = "manifest.json";
constexpr const char* kInstallFolder = "/usrdata/";
constexpr const char* kPostUpdateScript = "/usrdata/post_update_script.sh";
constexpr const char* kBackup = "/home/root/backup.tar.gz";
constexpr const char* kFirmwareMember = "torvex-c1.a87";
constexpr const char* kFirmware = "/usrdata/torvex-c1.a87";
constexpr size_t kLineSize = 512;

// What the manifest of the last package found asked for.
struct UpdateFlags {
    int32_t doBackup;
    int32_t modemUpdate;
    int32_t mcuUpdate;
    int32_t keepUpdateFile;
};
UpdateFlags g_flags{};

struct PipeClose {
    void operator()(FILE* pipe) const { pclose(pipe); }
};

// The manifest's first line, at most 511 characters; empty when there is none.
std::string manifest_line(const std::string& package) {
    char command[kLineSize];
    std::snprintf(command, sizeof command, "tar -Oxf %s %s", package.c_str(), kManifest);
    std::unique_ptr<FILE, PipeClose> pipe(popen(command, "r"));
    if (!pipe) return {};
    char line[kLineSize] = {};
    if (std::fgets(line, sizeof line, pipe.get()) == nullptr) return {};
    return line;
}

// A part ("mcu" or "modem") is required when forced or newer than what runs.
bool part_required(json_object* manifest, const char* part, int32_t running) {
    json_object* object = json_member_object(manifest, part);
    if (object == nullptr) return false;
    int64_t version = 0;
    json_member_int(object, "version", version);
    json_object* force = nullptr;
    bool forced = json_object_object_get_ex(object, "forceUpdate", &force) &&
                  json_object_is_type(force, json_type_boolean) && json_object_get_boolean(force) > 0;
    if (!forced && running >= version) return false;
    log_event("update", 0, "Update %s is required (%d => %d)", part, running, static_cast<int>(version));
    return true;
}

void read_manifest(const std::string& package, int32_t mcu_version, int32_t modem_version) {
    JsonPtr manifest = json_parse(manifest_line(package).c_str());
    if (!manifest || !json_object_is_type(manifest.get(), json_type_object)) return;
    int64_t value = 0;
    if (json_member_int(manifest.get(), "keepUpdateFile", value)) g_flags.keepUpdateFile = static_cast<int32_t>(value);
    if (json_member_int(manifest.get(), "doBackup", value)) g_flags.doBackup = static_cast<int32_t>(value);
    g_flags.mcuUpdate = part_required(manifest.get(), "mcu", mcu_version);
    g_flags.modemUpdate = part_required(manifest.get(), "modem", modem_version);
}

void install_modem_side(const std::string& package) {
    log_event("update", 0, "Update modem");
    if (g_flags.doBackup) run_command("cp %s %s", package.c_str(), device_path(kBackup).c_str());
    run_command("tar -C %s -xf %s", device_path(kInstallFolder).c_str(), package.c_str());
    run_command("sync");
    const std::string script = device_path(kPostUpdateScript);
    if (file_exists(script.c_str())) {
        run_command("chmod +x %s && %s", script.c_str(), script.c_str());
        unlink(script.c_str());
    }
}

void extract_firmware(const std::string& package) {
    const std::string firmware = device_path(kFirmware);
    if (!g_flags.mcuUpdate) {
        unlink(firmware.c_str());
        return;
    }
    if (file_exists(firmware.c_str())) return;
    char command[256];
    std::snprintf(command, sizeof command, "tar -C %s -xf %s %s", device_path(kInstallFolder).c_str(),
                  package.c_str(), kFirmwareMember);
    std::printf("%s\n", command);
    run_command("%s", command);
}

}  // namespace

int32_t update_check(int32_t mcu_version, int32_t modem_version) {
    int32_t result = 0;
    const std::string package = device_path(kPackage);
    if (file_exists(package.c_str())) {
        log_event("update", 0, "Update file found");
        g_flags = UpdateFlags{};
        read_manifest(package, mcu_version, modem_version);
        if (g_flags.modemUpdate) {
            install_modem_side(package);
            result = 1;
        }
        extract_firmware(package);
    }
    if (file_exists(device_path(kFirmware).c_str())) {
        log_event("update", 0, "Update mcu");
        if (mcu_flash() == 1) result = 1;
    }
    update_cleanup();
    run_command("sync");
    return result;
}

void update_cleanup() {
    if (!g_flags.keepUpdateFile) unlink(device_path(kPackage).c_str());
    unlink(device_path(kFirmware).c_str());
}
