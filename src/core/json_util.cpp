#include "json_util.h"

#include <json-c/json.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

void JsonRelease::operator()(json_object* value) const { json_object_put(value); }

JsonPtr json_parse(const char* text) { return JsonPtr(text ? json_tokener_parse(text) : nullptr); }

namespace {
json_object* member_of_type(json_object* object, const char* key, json_type type) {
    json_object* value = nullptr;
    if (object == nullptr || !json_object_is_type(object, json_type_object) ||
        !json_object_object_get_ex(object, key, &value) || !json_object_is_type(value, type))
        return nullptr;
    return value;
}
}  // namespace

json_object* json_member_object(json_object* object, const char* key) {
    return member_of_type(object, key, json_type_object);
}

json_object* json_member_array(json_object* object, const char* key) {
    return member_of_type(object, key, json_type_array);
}

bool json_member_int(json_object* object, const char* key, int64_t& value) {
    json_object* member = member_of_type(object, key, json_type_int);
    if (member == nullptr) return false;
    value = json_object_get_int64(member);
    return true;
}

bool json_member_int32(json_object* object, const char* key, int32_t& value) {
    int64_t wide = 0;
    if (!json_member_int(object, key, wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
    value = static_cast<int32_t>(wide);
    return true;
}

const char* json_member_string(json_object* object, const char* key) {
    json_object* member = member_of_type(object, key, json_type_string);
    return member ? json_object_get_string(member) : nullptr;
}

void copy_text(char* buffer, size_t size, const char* text) {
    if (size == 0) return;
    size_t length = text ? strnlen(text, size - 1) : 0;
    if (length) std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

bool read_first_line(const std::string& path, std::string& line) {
    FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) return false;
    char buffer[4096];
    bool read = std::fgets(buffer, sizeof buffer, file) != nullptr;
    std::fclose(file);
    if (!read) return false;
    line.assign(buffer, strcspn(buffer, "\r\n"));
    return true;
}
