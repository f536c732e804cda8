#include "cloud/instruction.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "core/event_log.h"
#include "core/json_util.h"
#include "cloud/transport.h"

namespace {

constexpr size_t kNameMax = 255;
constexpr size_t kUrlMax = 1023;
constexpr size_t kVerbMax = 16;

bool control_character(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool plain_method(const char* verb) {
    size_t length = strnlen(verb, kVerbMax + 1);
    return length > 0 && length <= kVerbMax &&
           std::all_of(verb, verb + length, [](char c) { return c >= 'A' && c <= 'Z'; });
}

}  // namespace

bool transfer_target_read(json_object* instruction, const char* tag, const char* what, TransferTarget& target) {
    // Read as they came: each has its own rule below, and a refusal is logged.
    const char* host = json_member_raw_string(instruction, "host");
    const char* path = json_member_raw_string(instruction, "path");
    target.verb = json_member_raw_string(instruction, "verb");
    if (host == nullptr || path == nullptr || target.verb == nullptr) return false;
    target.url = std::string(host) + path;
    target.headers = json_member_array(instruction, "headers");
    if (const char* name = http_header_refused(target.headers)) {
        log_event(tag, 2, "Refused header %s for %s", printable_name(name).c_str(), what);
        return false;
    }
    const char* fault = nullptr;
    if (target.url.size() > kUrlMax)
        fault = "URL too long";
    else if (has_control_character(target.url.c_str()))
        fault = "URL refused";
    else if (!plain_method(target.verb))
        fault = "verb refused";
    else if (!http_headers_valid(target.headers))
        fault = "header lines refused";
    if (fault) log_event(tag, 2, "Refused instruction for %s: %s", what, fault);
    return fault == nullptr;
}

bool plain_file_name(const char* name) {
    size_t length = strnlen(name, kNameMax + 1);
    if (length == 0 || length > kNameMax) return false;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    return std::strchr(name, '/') == nullptr && !has_control_character(name);
}

bool has_control_character(const char* text) {
    return std::any_of(text, text + std::strlen(text), control_character);
}

std::string printable_name(const char* name) {
    std::string shown(name, strnlen(name, kNameMax));
    std::replace_if(shown.begin(), shown.end(), control_character, '?');
    return shown;
}

int64_t file_length(FILE* file) {
    struct stat status {};
    return fstat(fileno(file), &status) == 0 ? static_cast<int64_t>(status.st_size) : -1;
}

const char* transfer_failure_text(int result) {
    return result < 0 ? "Curl fatal error" : http_last_failure_text();
}

void log_transfer_failure(const char* tag, int result, const char* what, const char* fate) {
    log_event(tag, 2, "File transfer failed for %s: %s; %s", what, transfer_failure_text(result), fate);
}
