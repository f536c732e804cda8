#include "update/update_trial.h"

#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "core/atomic_file.h"
#include "core/clock_helpers.h"
#include "update/daemon_keep.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "core/run_command.h"
#include "core/version.h"
#include "update/version_count.h"

namespace {

constexpr const char* kDaemon = "/usrdata/qz_daemon";
constexpr const char* kKept = "/usrdata/qz_daemon.prev";
constexpr const char* kRecord = "/usrdata/update_trial";
// A new daemon answers "--version" on an empty device root of its own, so
// that one which does not know the option, and starts up, touches nothing.
constexpr const char* kVersionRoot = "/usrdata/.qz-version-root";
constexpr int32_t kTrialStarts = 5;
constexpr uint64_t kVersionWait = 10000000;  // microseconds

// This process counted its start: it is the daemon on trial.
std::atomic<bool> g_counted{false};
std::atomic<bool> g_syncAsked{false};
// The update check's view of the daemon before it extracted a package.
bool g_kept = false;
std::string g_daemonBefore;

struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;
struct DigestFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

bool present(const char* devicePath) {
    struct stat info {};
    return lstat(device_path(devicePath).c_str(), &info) == 0;
}

bool trial_running() { return present(kRecord) && present(kKept); }

std::optional<VersionCount> read_record() { return version_count_read(kRecord, "starts"); }
bool write_record(const VersionCount& record) {
    return version_count_write(kRecord, "starts", record);
}
void remove_record() { version_count_remove(kRecord); }

// Puts the kept daemon back in one rename; the trial, if any, is over.
bool roll_back(const std::string& why) {
    if (atomic_file_rename(device_path(kKept).c_str(), device_path(kDaemon).c_str()) != 0) {
        log_event("update", 2, "Update rollback failed: %s", std::strerror(errno));
        return false;
    }
    log_event("update", 2, "Update rolled back: %s", why.c_str());
    remove_record();
    g_counted = false;
    return true;
}

// SHA-256 of the file; empty when it cannot be read.
std::string file_digest(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rbe"));
    std::unique_ptr<EVP_MD_CTX, DigestFree> context(EVP_MD_CTX_new());
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return {};
    char piece[16384];
    size_t count = 0;
    while ((count = std::fread(piece, 1, sizeof piece, file.get())) > 0)
        if (EVP_DigestUpdate(context.get(), piece, count) != 1) return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (std::ferror(file.get()) || EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return {};
    return std::string(reinterpret_cast<const char*>(digest), length);
}

// A flushed copy with the daemon's permissions.
bool keep_copy(const std::string& from, const std::string& to) {
    FilePtr source(std::fopen(from.c_str(), "rbe"));
    struct stat info {};
    if (!source || fstat(fileno(source.get()), &info) != 0) return false;
    return atomic_file_write(to.c_str(), [&](FILE* copy) {
               fchmod(fileno(copy), info.st_mode & 07777);
               char piece[16384];
               size_t count = 0;
               while ((count = std::fread(piece, 1, sizeof piece, source.get())) > 0) {
                   if (std::fwrite(piece, 1, count, copy) != count) return false;
               }
               return std::ferror(source.get()) == 0;
           }) == 0;
}

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

// Why the daemon now in place cannot run; empty when it answered its version.
std::string version_refusal(std::string& answer) {
    const std::string daemon = device_path(kDaemon), root = device_path(kVersionRoot);
    const std::string rootEntry = "QZ_ROOT=" + root;
    remove_tree(root.c_str());
    mkdir(root.c_str(), 0755);
    const char* const argv[] = {daemon.c_str(), "--version", nullptr};
    const char* const environment[] = {rootEntry.c_str(), nullptr};
    const LimitedRun run = run_program_within(argv, environment, kVersionWait);
    remove_tree(root.c_str());
    answer = first_line(run.output);
    char why[200];
    switch (run.end) {
        case LimitedRun::End::kNotStarted:
            std::snprintf(why, sizeof why, "the new daemon cannot be started: %s",
                          std::strerror(run.code));
            return why;
        case LimitedRun::End::kTimedOut:
            return "the new daemon did not answer --version within 10 s";
        case LimitedRun::End::kSignalled:
            std::snprintf(why, sizeof why, "the new daemon was ended by signal %d on --version",
                          run.code);
            return why;
        case LimitedRun::End::kExited:
            break;
    }
    if (run.code != 0) {
        std::snprintf(why, sizeof why, "the new daemon ended with status %d on --version",
                      run.code);
        return why;
    }
    if (answer.rfind(kDaemonVersionPrefix, 0) != 0) {
        std::snprintf(why, sizeof why, "the new daemon answered --version with \"%.64s\"",
                      answer.c_str());
        return why;
    }
    return {};
}

}  // namespace

bool update_trial_start() {
    atomic_file_remove_stale(device_path(kRecord).c_str());
    const std::optional<VersionCount> record = read_record();
    if (!record) return false;
    if (!present(kKept)) {
        // Cut short right after the kept daemon went back, or removed by hand.
        remove_record();
        log_event("update", 1, "Update trial ended: no kept daemon");
        return false;
    }
    if (record->count >= kTrialStarts)
        return roll_back("no camera record accepted in " + std::to_string(kTrialStarts) +
                         " starts");
    const VersionCount counted{record->version, record->count + 1};
    if (!write_record(counted)) return roll_back("the start count cannot be written");
    g_counted = true;
    log_event("update", 0, "Update trial: start %d of %d", counted.count, kTrialStarts);
    return false;
}

void update_trial_sync_asked() { g_syncAsked = true; }

void update_trial_powerdown() {
    if (!g_counted.load() || g_syncAsked.load()) return;
    const std::optional<VersionCount> record = read_record();
    if (record && record->count > 0) write_record({record->version, record->count - 1});
}

void update_trial_commit() {
    if (!g_counted.exchange(false)) return;
    const std::optional<VersionCount> record = read_record();
    remove_record();
    // Only a trial needs the kept daemon; /usrdata is small.
    unlink(device_path(kKept).c_str());
    log_event("update", 0, "Update trial passed: version %d got a camera record through",
              record ? record->version : 0);
}

std::string daemon_keep() {
    g_kept = false;
    const std::string daemon = device_path(kDaemon);
    if (!present(kDaemon)) return {};
    g_daemonBefore = file_digest(daemon);
    if (!trial_running() && !keep_copy(daemon, device_path(kKept)))
        return "the running daemon cannot be kept";
    g_kept = true;
    return {};
}

uint64_t daemon_keep_size() {
    struct stat info {};
    if (trial_running() || stat(device_path(kDaemon).c_str(), &info) != 0) return 0;
    return static_cast<uint64_t>(info.st_size);
}

bool daemon_judge(int32_t version) {
    if (!g_kept) return true;
    g_kept = false;
    if (file_digest(device_path(kDaemon)) == g_daemonBefore) {
        if (!present(kRecord)) unlink(device_path(kKept).c_str());
        return true;
    }
    std::string answer;
    const std::string why = version_refusal(answer);
    if (!why.empty()) {
        roll_back(why);
        return false;
    }
    if (!write_record({version, 0})) {
        roll_back("the trial record cannot be written");
        return false;
    }
    // The daemon that installed a new one is not the one on trial.
    g_counted = false;
    log_event("update", 0, "Update trial begins: %s", answer.c_str());
    return true;
}
