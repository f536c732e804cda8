#include "update.h"

#include <json-c/json.h>
#include <sys/stat.h>
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
#include "package_check.h"
#include "run_command.h"

namespace {

constexpr const char* kPackage = "/media/sdcard/update.tar.gz";
constexpr const char* kSignature = "/media/sdcard/update.tar.gz.sig";
constexpr const char* kUpdateKey = "/usrdata/update_key.pem";
constexpr const char* kManifest = "manifest.json";
constexpr const char* kInstallFolder = "/usrdata/";
constexpr const char* kScriptMember = "post_update_script.sh";
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

// What the manifest offers for one part ("mcu" or "modem").
struct PartOffer {
    bool listed;
    int32_t version;
    bool forced;
};

struct PipeClose {
    void operator()(FILE* pipe) const { pclose(pipe); }
};

bool present(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

// Whether the device path holds a regular file. Anything else there (a
// folder, FIFO, device or link) is removed unopened: reading a FIFO would
// wait for ever, and a link could make the update run or flash any file.
bool regular_file_or_removed(const char* devicePath) {
    const std::string path = device_path(devicePath);
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return false;
    if (S_ISREG(info.st_mode)) return true;
    remove_tree(path.c_str());
    log_event("update", 2, "Not a regular file, removed: %s", devicePath);
    return false;
}

// Nothing of a refused package is installed, flashed or kept.
void refuse(const std::string& why) {
    log_event("update", 2, "Update package refused: %s", why.c_str());
    g_flags = UpdateFlags{};
}

// Why the package must not be used at all; empty when it may.
std::string package_refusal(const std::string& package) {
    struct stat info {};
    if (lstat(package.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "it is not a regular file";
    // The key makes signatures mandatory; without it packages install unsigned.
    const std::string key = device_path(kUpdateKey);
    if (present(key)) {
        std::string why = package_signature_refusal(package, device_path(kSignature), key);
        if (!why.empty()) return why;
    }
    // What the check opens, runs or flashes must come as regular files.
    return package_content_refusal(package, {kScriptMember, kFirmwareMember});
}

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

PartOffer part_offer(json_object* manifest, const char* part) {
    PartOffer offer{};
    json_object* object = json_member_object(manifest, part);
    if (object == nullptr) return offer;
    offer.listed = true;
    json_member_int32(object, "version", offer.version);
    json_object* force = nullptr;
    offer.forced = json_object_object_get_ex(object, "forceUpdate", &force) &&
                   json_object_is_type(force, json_type_boolean) && json_object_get_boolean(force) > 0;
    return offer;
}

// A part is required when forced or newer than what runs.
bool part_required(const char* part, const PartOffer& offer, int32_t running) {
    if (!offer.listed || (!offer.forced && running >= offer.version)) return false;
    log_event("update", 0, "Update %s is required (%d => %d)", part, running, offer.version);
    return true;
}

// "mcu running 7, offered 7; modem running 5, offered 3" for the parts the manifest lists.
std::string offers_text(const PartOffer& mcu, int32_t mcuRunning, const PartOffer& modem, int32_t modemRunning) {
    std::string text;
    char part[64];
    if (mcu.listed) {
        std::snprintf(part, sizeof part, "mcu running %d, offered %d", mcuRunning, mcu.version);
        text = part;
    }
    if (modem.listed) {
        std::snprintf(part, sizeof part, "modem running %d, offered %d", modemRunning, modem.version);
        text += (text.empty() ? "" : "; ") + std::string(part);
    }
    return text.empty() ? "the manifest lists no part" : text;
}

void read_manifest(const std::string& package, int32_t mcu_version, int32_t modem_version) {
    JsonPtr manifest = json_parse(manifest_line(package).c_str());
    if (!manifest || !json_object_is_type(manifest.get(), json_type_object)) {
        log_event("update", 0, "Update package not needed: %s", "manifest.json is not one line of JSON");
        return;
    }
    json_member_int32(manifest.get(), "keepUpdateFile", g_flags.keepUpdateFile);
    json_member_int32(manifest.get(), "doBackup", g_flags.doBackup);
    const PartOffer mcu = part_offer(manifest.get(), "mcu");
    const PartOffer modem = part_offer(manifest.get(), "modem");
    g_flags.mcuUpdate = part_required("mcu", mcu, mcu_version);
    g_flags.modemUpdate = part_required("modem", modem, modem_version);
    if (!g_flags.mcuUpdate && !g_flags.modemUpdate)
        log_event("update", 0, "Update package not needed: %s",
                  offers_text(mcu, mcu_version, modem, modem_version).c_str());
}

// True when every member was extracted and the post-update script, if any, ran.
bool install_modem_side(const std::string& package) {
    log_event("update", 0, "Update modem");
    if (g_flags.doBackup) run_command("cp %s %s", package.c_str(), device_path(kBackup).c_str());
    const std::string folder = device_path(kInstallFolder);
    const char* const argv[] = {"tar", "-C", folder.c_str(), "-xzf", package.c_str(), nullptr};
    const int status = run_program(argv, STDOUT_FILENO);
    run_command("sync");
    if (status != 0) {
        // A script of a half-extracted package must not run now nor after a later package.
        unlink(device_path(kPostUpdateScript).c_str());
        refuse("tar could not extract it (status " + std::to_string(status) + ")");
        return false;
    }
    if (regular_file_or_removed(kPostUpdateScript)) {
        const std::string script = device_path(kPostUpdateScript);
        run_command("chmod +x %s && %s", script.c_str(), script.c_str());
        unlink(script.c_str());
    }
    return true;
}

void extract_firmware(const std::string& package) {
    const std::string firmware = device_path(kFirmware);
    if (!g_flags.mcuUpdate) {
        unlink(firmware.c_str());
        return;
    }
    if (regular_file_or_removed(kFirmware)) return;
    const std::string folder = device_path(kInstallFolder);
    std::printf("tar -C %s -xzf %s %s\n", folder.c_str(), package.c_str(), kFirmwareMember);
    const char* const argv[] = {"tar", "-C", folder.c_str(), "-xzf", package.c_str(), kFirmwareMember, nullptr};
    // Half a firmware file is never flashed.
    if (run_program(argv, STDOUT_FILENO) != 0) unlink(firmware.c_str());
}

}  // namespace

int32_t update_check(int32_t mcu_version, int32_t modem_version) {
    int32_t result = 0;
    const std::string package = device_path(kPackage);
    if (present(package)) {
        log_event("update", 0, "Update file found");
        g_flags = UpdateFlags{};
        const std::string why = package_refusal(package);
        if (why.empty())
            read_manifest(package, mcu_version, modem_version);
        else
            refuse(why);
        if (g_flags.modemUpdate && install_modem_side(package)) result = 1;
        extract_firmware(package);
    }
    if (regular_file_or_removed(kFirmware)) {
        log_event("update", 0, "Update mcu");
        if (mcu_flash() == 1) result = 1;
    }
    update_cleanup();
    run_command("sync");
    return result;
}

void update_cleanup() {
    // The signature goes and stays with its package. Alone it waits for one:
    // the cloud's "update" request brings it first, and checks after each file.
    if (!g_flags.keepUpdateFile && unlink(device_path(kPackage).c_str()) == 0) unlink(device_path(kSignature).c_str());
    unlink(device_path(kFirmware).c_str());
}
