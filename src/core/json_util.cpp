#include "core/json_util.h"

#include <json-c/json.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

void JsonRelease::operator()(json_object* value) const { json_object_put(value); }

JsonPtr json_parse(const char* text) { return JsonPtr(text ? json_tokener_parse(text) : nullptr); }

namespace {
// The values of a JSON text, counted without building them: one, and one
// more for each comma and each container that holds anything.
size_t value_count(const std::string& text) {
    size_t count = 1;
    bool inString = false;
    char previous = '\0';  // the last character outside texts that is not a blank
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '"')
            inString = true;
        else if (c == ',' || c == '{' || c == '[')
            ++count;
        else if ((c == '}' && previous == '{') || (c == ']' && previous == '['))
            --count;
        previous = c;
    }
    return count;
}

struct TokenerFree {
    void operator()(json_tokener* tokener) const { json_tokener_free(tokener); }
};
}  // namespace

bool json_parse_bounded(const std::string& text, size_t maxValues, int maxDepth, JsonPtr& value) {
    value.reset();
    if (value_count(text) > maxValues) return false;
    std::unique_ptr<json_tokener, TokenerFree> tokener(json_tokener_new_ex(maxDepth));
    if (!tokener) return false;
    value.reset(json_tokener_parse_ex(tokener.get(), text.c_str(), -1));
    const json_tokener_error error = json_tokener_get_error(tokener.get());
    if (error == json_tokener_success) return true;
    value.reset();
    return error != json_tokener_error_depth;
}

namespace {
bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 character at `text` (`left` bytes remain), 0 when it is not one.
size_t utf8_character(const unsigned char* text, size_t left) {
    const unsigned char lead = text[0];
    if (lead < 0x80) return 1;
    size_t length = 0;
    uint32_t lowest = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        lowest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        lowest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (length > left) return 0;
    uint32_t code = lead & (0x7Fu >> length);
    for (size_t i = 1; i < length; ++i) {
        if (!is_continuation(text[i])) return 0;
        code = code << 6 | (text[i] & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

// Well-formed UTF-8 without control characters (a NUL inside counts as one).
bool clean_text(const char* text, size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t at = 0; at < length;) {
        if (bytes[at] < 0x20 || bytes[at] == 0x7F) return false;
        const size_t step = utf8_character(bytes + at, length - at);
        if (step == 0) return false;
        at += step;
    }
    return true;
}

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

const char* json_member_raw_string(json_object* object, const char* key) {
    json_object* member = member_of_type(object, key, json_type_string);
    return member ? json_object_get_string(member) : nullptr;
}

const char* json_member_string(json_object* object, const char* key) {
    json_object* member = member_of_type(object, key, json_type_string);
    if (member == nullptr) return nullptr;
    const char* text = json_object_get_string(member);
    const int length = json_object_get_string_len(member);
    return clean_text(text, static_cast<size_t>(length)) ? text : nullptr;
}

void copy_text(char* buffer, size_t size, const char* text) {
    if (size == 0) return;
    size_t length = text ? strnlen(text, size - 1) : 0;
    // A cut never splits a UTF-8 character, so a saved text stays valid JSON.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const size_t whole = length;
    if (bytes != nullptr && bytes[length] != '\0')
        while (length > 0 && whole - length < 3 && is_continuation(bytes[length])) --length;
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
