#include "instruction.h"

#include <cstring>

#include "json_util.h"
#include "transport.h"

namespace {

constexpr size_t kNameMax = 255;
constexpr size_t kUrlMax = 1023;
constexpr size_t kVerbMax = 255;

}  // namespace

bool transfer_target_read(json_object* instruction, TransferTarget& target, const char*& fault) {
    fault = nullptr;
    const char* host = json_member_string(instruction, "host");
    const char* path = json_member_string(instruction, "path");
    target.verb = json_member_string(instruction, "verb");
    if (host == nullptr || path == nullptr || target.verb == nullptr) return false;
    target.url = std::string(host) + path;
    target.headers = json_member_array(instruction, "headers");
    if (target.url.size() > kUrlMax)
        fault = "URL too long";
    else if (std::strlen(target.verb) > kVerbMax)
        fault = "verb too long";
    else if (!http_headers_valid(target.headers))
        fault = "header lines refused";
    return fault == nullptr;
}

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

std::string printable_name(const char* name) {
    std::string shown(name, strnlen(name, kNameMax));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return shown;
}
