#include "uploads.h"

#include <json-c/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "device_root.h"
#include "event_log.h"
#include "json_util.h"
#include "picture_process.h"
#include "transport.h"
#include "uart.h"

namespace {

constexpr const char* kTransmitDir = "/media/sdcard/transmit/";
constexpr size_t kNameMax = 255;
constexpr size_t kUrlMax = 1023;
constexpr size_t kVerbMax = 255;

struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;

std::string transmit_path(const char* name) { return std::string(kTransmitDir) + name; }

// The name as a log line may show it: control characters become '?'.
std::string printable(const char* text) {
    std::string shown(text, strnlen(text, kNameMax + 1));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return shown;
}

struct Target {
    std::string url;
    const char* verb = nullptr;
    int64_t size = 0;
    json_object* headers = nullptr;
};

// The instruction's target, or the reason it cannot be used (null when a
// member is missing, which is skipped without a word).
const char* read_target(json_object* instruction, Target& target, bool& complete) {
    const char* host = json_member_string(instruction, "host");
    const char* path = json_member_string(instruction, "path");
    target.verb = json_member_string(instruction, "verb");
    complete = host && path && target.verb && json_member_int(instruction, "size", target.size);
    if (!complete) return nullptr;
    target.url = std::string(host) + path;
    target.headers = json_member_array(instruction, "headers");
    if (target.url.size() > kUrlMax) return "URL too long";
    if (std::strlen(target.verb) > kVerbMax) return "verb too long";
    if (target.size < 0) return "negative size";
    if (!http_headers_valid(target.headers)) return "header lines refused";
    return nullptr;
}

// One instruction; true when its picture was sent (and deleted).
bool upload_one(json_object* instruction) {
    const char* name = json_member_string(instruction, "name");
    if (name == nullptr) return false;
    if (!plain_file_name(name)) {
        log_event("sync", 2, "Refused file name: %s", printable(name).c_str());
        return false;
    }
    std::string real = device_path(transmit_path(name));
    FilePtr file(std::fopen(real.c_str(), "rb"));
    if (!file) {
        log_event("sync", 2, "Failed to open file: %s", transmit_path(name).c_str());
        return false;
    }
    Target target;
    bool complete = false;
    if (const char* fault = read_target(instruction, target, complete)) {
        log_event("sync", 2, "Refused instruction for %s: %s", name, fault);
        return false;
    }
    if (!complete) return false;
    int result = http_upload_file(target.url.c_str(), target.verb, file.get(), target.size,
                                  target.headers);
    file.reset();
    if (result < 0) {
        log_event("sync", 2, "File transfer failed: Curl fatal error");
        return false;
    }
    // Only an accepted upload may cost the picture its transmit copy.
    if (!http_last_accepted()) {
        log_event("sync", 2, "File transfer failed: %s", http_last_failure_text());
        return false;
    }
    unlink(real.c_str());
    return true;
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

}  // namespace

bool plain_file_name(const char* name) {
    size_t length = strnlen(name, kNameMax + 1);
    if (length == 0 || length > kNameMax) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

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

bool uploads_carry_out(json_object* instructions, int mode) {
    int offered = static_cast<int>(json_object_array_length(instructions));
    log_event("upload", 0, "Picture to upload: %d", offered);
    int sent = 0;
    for (int i = 0; i < offered; ++i) {
        mcu_send_ack();
        if (upload_one(json_object_array_get_idx(instructions, static_cast<size_t>(i)))) ++sent;
    }
    if (sent >= offered)
        config_growUploadPictureCount(sent);
    else
        config_setUploadPictureCount(sent);
    return mode != 0 || sent == 0;
}
