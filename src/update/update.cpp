#include "update/update.h"

#include <dirent.h>
#include <json-c/json.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/clock_helpers.h"
#include "update/daemon_keep.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "core/json_util.h"
#include "update/mcu_flash.h"
#include "update/package_check.h"
#include "core/run_command.h"
#include "update/version_count.h"

namespace {

constexpr const char* kPackage = "/media/sdcard/update.tar.gz";
constexpr const char* kSignature = "/media/sdcard/update.tar.gz.sig";
constexpr const char* kUpdateKey = "/usrdata/update_key.pem";
constexpr const char* kManifest = "manifest.json";
constexpr const char* kInstallFolder = "/usrdata/";
// tar writes here first; only what it extracted whole moves into /usrdata/.
constexpr const char* kStaging = "/usrdata/.qz-extract";
constexpr const char* kDaemonMember = "qz_daemon";
constexpr const char* kKeyMember = "update_key.pem";
constexpr const char* kScriptMember = "post_update_script.sh";
constexpr const char* kPostUpdateScript = "/usrdata/post_update_script.sh";
constexpr const char* kBackup = "/home/root/backup.tar.gz";
constexpr const char* kFirmwareMember = "torvex-c1.a87";
constexpr const char* kFirmware = "/usrdata/torvex-c1.a87";
constexpr const char* kFlashTries = "/usrdata/mcu_flash_tries";
constexpr int32_t kFlashTriesMax = 3;
// What /usrdata/ keeps free for the daemon's own files after an extraction.
constexpr uint64_t kSpareSpace = 1024 * 1024;
constexpr size_t kLineSize = 512;

// What the manifest of the last package found asked for.
struct UpdateFlags {
    int32_t doBackup;
    int32_t modemUpdate;
    int32_t mcuUpdate;
    int32_t keepUpdateFile;
    int32_t modemVersion;  // the versions offered
    int32_t mcuVersion;
};
UpdateFlags g_flags{};
// An MCU flash failed and has tries left: the package stays for the next start.
bool g_flashRetry = false;

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

// What the members may take: the free space of /usrdata/ less a spare MiB
// and the copy of the running daemon that a modem side keeps.
uint64_t usrdata_room() {
    struct statvfs info {};
    if (statvfs(device_path(kInstallFolder).c_str(), &info) != 0) return UINT64_MAX;
    const uint64_t available = static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
    const uint64_t reserved = kSpareSpace + daemon_keep_size();
    return available > reserved ? available - reserved : 0;
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
    // What the check opens, runs or flashes, and what the update must find, must come as regular files.
    PackageRules rules;
    rules.filesOnly = {kScriptMember, kFirmwareMember, kDaemonMember, kKeyMember};
    rules.keyMember = kKeyMember;
    rules.room = usrdata_room();
    return package_content_refusal(package, rules);
}

// The manifest's first line, at most 511 characters; empty when there is none.
std::string manifest_line(const std::string& package) {
    char command[kLineSize];
    std::snprintf(command, sizeof command, "tar -Oxzf %s %s", package.c_str(), kManifest);
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
    g_flags.mcuVersion = mcu.version;
    g_flags.modemVersion = modem.version;
    if (!g_flags.mcuUpdate && !g_flags.modemUpdate)
        log_event("update", 0, "Update package not needed: %s",
                  offers_text(mcu, mcu_version, modem, modem_version).c_str());
}

std::string joined(const std::string& folder, const char* name) {
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

// Moves every entry of `from` into `to`, into folders that are already there.
bool move_into(const std::string& from, const std::string& to) {
    std::unique_ptr<DIR, int (*)(DIR*)> listing(opendir(from.c_str()), closedir);
    if (!listing) return false;
    bool moved = true;
    while (const dirent* item = readdir(listing.get())) {
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
        const std::string source = joined(from, item->d_name), target = joined(to, item->d_name);
        struct stat sourceInfo {}, targetInfo {};
        if (lstat(source.c_str(), &sourceInfo) == 0 && S_ISDIR(sourceInfo.st_mode) &&
            lstat(target.c_str(), &targetInfo) == 0 && S_ISDIR(targetInfo.st_mode))
            moved = move_into(source, target) && moved;
        else if (std::rename(source.c_str(), target.c_str()) != 0)
            moved = false;
    }
    return moved;
}

// Extracts the package, or the one member, into a fresh folder under
// /usrdata/ and moves what tar wrote into place only once it succeeded, so a
// failed extraction (a full /usrdata/) leaves nothing behind. Empty on
// success, else why it failed.
std::string extract_into_usrdata(const std::string& package, const char* member) {
    const std::string staging = device_path(kStaging);
    remove_tree(staging.c_str());
    if (mkdir(staging.c_str(), 0755) != 0) return std::string("its folder cannot be made: ") + std::strerror(errno);
    const char* const argv[] = {"tar", "-C", staging.c_str(), "-xzf", package.c_str(), member, nullptr};
    const int status = run_program(argv, STDOUT_FILENO);
    std::string why;
    if (status != 0)
        why = "tar could not extract it (status " + std::to_string(status) + ")";
    else if (!move_into(staging, device_path(kInstallFolder)))
        why = "its files could not be moved into /usrdata/";
    remove_tree(staging.c_str());
    run_command("sync");
    return why;
}

// True when the modem side was extracted, its post-update script (if any)
// ran and the daemon it leaves in place can run.
bool install_modem_side(const std::string& package) {
    log_event("update", 0, "Update modem");
    const std::string unkept = daemon_keep();
    if (!unkept.empty()) {
        refuse(unkept);
        return false;
    }
    if (g_flags.doBackup) run_command("cp %s %s", package.c_str(), device_path(kBackup).c_str());
    const std::string why = extract_into_usrdata(package, nullptr);
    if (!why.empty()) {
        // A script of a half-moved package must not run now nor after a later package.
        unlink(device_path(kPostUpdateScript).c_str());
        daemon_judge(g_flags.modemVersion);
        refuse(why);
        return false;
    }
    if (regular_file_or_removed(kPostUpdateScript)) {
        const std::string script = device_path(kPostUpdateScript);
        run_command("chmod +x %s && %s", script.c_str(), script.c_str());
        unlink(script.c_str());
    }
    return daemon_judge(g_flags.modemVersion);
}

// The firmware member extracted afresh over the one the modem side brought.
// True when it is in place as a regular file.
bool extract_firmware(const std::string& package) {
    remove_tree(device_path(kFirmware).c_str());
    if (!g_flags.mcuUpdate) return false;
    std::printf("tar -C %s -xzf %s %s\n", device_path(kStaging).c_str(), package.c_str(), kFirmwareMember);
    const std::string why = extract_into_usrdata(package, kFirmwareMember);
    if (!why.empty()) log_event("update", 2, "MCU firmware not extracted: %s", why.c_str());
    return why.empty() && regular_file_or_removed(kFirmware);
}

// This try at the offered version, counted before it starts so that a cut
// flash counts too; kFlashTriesMax when the count cannot be kept.
int32_t count_flash_try() {
    const std::optional<VersionCount> before = version_count_read(kFlashTries, "tries");
    const int32_t tries = before && before->version == g_flags.mcuVersion ? before->count + 1 : 1;
    return version_count_write(kFlashTries, "tries", {g_flags.mcuVersion, tries}) ? tries : kFlashTriesMax;
}

// A failed exchange keeps the package for the next start, 3 tries in all.
bool flash_mcu() {
    log_event("update", 0, "Update mcu");
    const int32_t tries = count_flash_try();
    const int flashed = mcu_flash();
    if (flashed == kFlashFailed && tries < kFlashTriesMax) {
        g_flashRetry = true;
        return false;
    }
    if (flashed == kFlashFailed) log_event("update", 2, "MCU flash given up after %d tries", kFlashTriesMax);
    version_count_remove(kFlashTries);
    return flashed == kFlashDone;
}

}  // namespace

int32_t update_check(int32_t mcu_version, int32_t modem_version) {
    int32_t result = 0;
    g_flashRetry = false;
    // What a cut extraction left half written. The MCU is flashed only with
    // the firmware extracted from the package below.
    remove_tree(device_path(kStaging).c_str());
    remove_tree(device_path(kFirmware).c_str());
    const std::string package = device_path(kPackage);
    bool flashDue = false;
    if (present(package)) {
        log_event("update", 0, "Update file found");
        g_flags = UpdateFlags{};
        const std::string why = package_refusal(package);
        if (why.empty())
            read_manifest(package, mcu_version, modem_version);
        else
            refuse(why);
        if (g_flags.modemUpdate && install_modem_side(package)) result = 1;
        flashDue = extract_firmware(package);
    }
    if (flashDue && flash_mcu()) result = 1;
    update_cleanup();
    run_command("sync");
    return result;
}

void update_cleanup() {
    // The signature goes and stays with its package. Alone it waits for one:
    // the cloud's "update" request brings it first, and checks after each file.
    if (!g_flags.keepUpdateFile && !g_flashRetry && unlink(device_path(kPackage).c_str()) == 0)
        unlink(device_path(kSignature).c_str());
    unlink(device_path(kFirmware).c_str());
}
