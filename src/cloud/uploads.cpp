#include "cloud/uploads.h"

#include <json-c/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "cloud/instruction.h"
#include "core/json_util.h"
#include "image/picture_process.h"
#include "cloud/transport.h"
#include "mcu/uart.h"

namespace {

constexpr const char* kTransmitDir = "/media/sdcard/transmit/";
// Enough of the skipped names to tell what the service asked for.
constexpr size_t kSkippedShown = 512;

std::string transmit_path(const char* name) { return std::string(kTransmitDir) + name; }

// What became of one instruction's picture.
enum class Upload {
    kKept,   // not sent: offered again
    kSent,   // accepted and its transmit copy deleted
    kStuck,  // accepted, but its copy could not be deleted (a read-only or failing card)
};

Upload upload_one(json_object* instruction) {
    const char* name = json_member_raw_string(instruction, "name");
    if (!plain_file_name(name)) {
        log_event("sync", 2, "Refused file name: %s", printable_name(name).c_str());
        return Upload::kKept;
    }
    std::string real = device_path(transmit_path(name));
    FilePtr file(std::fopen(real.c_str(), "rbe"));
    if (!file) {
        log_event("sync", 2, "Failed to open file: %s", transmit_path(name).c_str());
        return Upload::kKept;
    }
    TransferTarget target;
    json_object* sizeMember = nullptr;
    if (!transfer_target_read(instruction, "sync", name, target) ||
        !json_object_object_get_ex(instruction, "size", &sizeMember))
        return Upload::kKept;
    // Any other length (or a size that is no whole number) would send a cut or
    // padded picture and count it as sent.
    int64_t size = 0;
    if (!json_member_int(instruction, "size", size) || size != file_length(file.get())) {
        log_event("sync", 2, "Refused instruction for %s: size %s is not the file's length", name,
                  json_object_to_json_string(sizeMember));
        return Upload::kKept;
    }
    int result = http_upload_file(target.url.c_str(), target.verb, file.get(), size, target.headers);
    file.reset();
    // Only an accepted upload may cost the picture its transmit copy.
    if (result != kHttpCompleted || !http_last_accepted()) {
        log_transfer_failure("sync", result, name, "kept for the next sync");
        return Upload::kKept;
    }
    if (unlink(real.c_str()) != 0) {
        log_event("sync", 2, "Failed to delete %s: %s", transmit_path(name).c_str(), std::strerror(errno));
        return Upload::kStuck;
    }
    return Upload::kSent;
}

// Appends {"name", "size"} for a file worth offering; empty files are deleted.
void offer(json_object* list, const FileEntry& entry) {
    std::string path = transmit_path(entry.name);
    std::string real = device_path(path);
    struct stat status {};
    if (stat(real.c_str(), &status) != 0) {
        log_event("uploads", 2, "stat failed %s", path.c_str());
        return;
    }
    if (status.st_size == 0) {
        unlink(real.c_str());
        return;
    }
    json_object* item = json_object_new_object();
    json_object_object_add(item, "name", json_object_new_string(entry.name));
    json_object_object_add(item, "size", json_object_new_int64(static_cast<int64_t>(status.st_size)));
    json_object_array_add(list, item);
}

// Offered names not yet acted on; each instruction takes its name off.
class OfferedPictures {
public:
    explicit OfferedPictures(json_object* offered) {
        size_t count = offered ? json_object_array_length(offered) : 0;
        for (size_t i = 0; i < count; ++i)
            if (const char* name = json_member_raw_string(json_object_array_get_idx(offered, i), "name"))
                waiting_.emplace_back(name);
    }
    bool take(const char* name) {
        auto found = name ? std::find(waiting_.begin(), waiting_.end(), name) : waiting_.end();
        if (found == waiting_.end()) return false;
        waiting_.erase(found);
        return true;
    }

private:
    std::vector<std::string> waiting_;
};

// One line for the instructions not acted on: their count and their names.
class Skipped {
public:
    void add(const char* name) {
        ++count_;
        if (names_.size() >= kSkippedShown) return;
        if (!names_.empty()) names_ += ", ";
        names_ += name ? printable_name(name) : "(no name)";
    }
    void log() const {
        if (count_ > 0) log_event("upload", 1, "Skipped %d instructions: %s", count_, names_.c_str());
    }

private:
    int count_ = 0;
    std::string names_;
};

}  // namespace

int uploads_list_add(json_object* document, int mode) {
    int limit = mode != 0 ? 1 : config_getUploadPictureCount();
    std::vector<FileEntry> entries;
    if (list_files(device_path(kTransmitDir).c_str(), entries, limit, compare_newest_first) != 0) {
        log_event("uploads", 2, "Unable to access process path");
        return -1;
    }
    if (entries.empty()) return -1;
    json_object* list = json_object_new_array();
    for (const FileEntry& entry : entries) offer(list, entry);
    size_t count = json_object_array_length(list);
    if (count == 0) {
        json_object_put(list);
        return -2;
    }
    json_object_object_add(document, "uploads", list);
    log_event("uploads", 0, "%d %s", static_cast<int>(count), json_object_to_json_string(list));
    return 1;
}

bool uploads_carry_out(json_object* instructions, json_object* offered, int mode) {
    int count = static_cast<int>(json_object_array_length(instructions));
    log_event("upload", 0, "Picture to upload: %d", count);
    OfferedPictures waiting(offered);
    Skipped skipped;
    int actedOn = 0;
    int sent = 0;
    bool stuck = false;
    for (int i = 0; i < count; ++i) {
        json_object* instruction = json_object_array_get_idx(instructions, static_cast<size_t>(i));
        const char* name = json_member_raw_string(instruction, "name");
        if (!waiting.take(name)) {
            skipped.add(name);
            continue;
        }
        ++actedOn;
        mcu_send_ack();
        Upload outcome = upload_one(instruction);
        if (outcome == Upload::kSent) ++sent;
        if (outcome == Upload::kStuck) stuck = true;
    }
    skipped.log();
    if (sent >= actedOn)
        config_growUploadPictureCount(sent);
    else
        config_setUploadPictureCount(sent);
    // A copy that stays would be offered and sent again at once, for as long as the sync lasts.
    return mode != 0 || sent == 0 || stuck;
}
