#pragma once
#include <cstdint>
#include <memory>
#include <string>

struct json_object;

// Owns one reference to a parsed JSON value.
struct JsonRelease {
    void operator()(json_object* value) const;
};
using JsonPtr = std::unique_ptr<json_object, JsonRelease>;

JsonPtr json_parse(const char* text);
// Parses a text from outside unless it holds more than `maxValues` values or
// nests deeper than `maxDepth`: json-c spends some 800 bytes on an empty
// object, so a megabyte of "{}," would take hundreds of megabytes. False when
// the text is over a limit; a text that is not JSON gives true and a null value.
bool json_parse_bounded(const std::string& text, size_t maxValues, int maxDepth, JsonPtr& value);

// Member lookups where a member of the wrong type counts as missing.
json_object* json_member_object(json_object* object, const char* key);
json_object* json_member_array(json_object* object, const char* key);
bool json_member_int(json_object* object, const char* key, int64_t& value);
// As above, and a number outside int32_t counts as missing too.
bool json_member_int32(json_object* object, const char* key, int32_t& value);
// Null when missing, not a string, not well-formed UTF-8 or holding a control
// character (below 0x20, or 0x7F): such a text from outside counts as missing.
const char* json_member_string(json_object* object, const char* key);
// The text as it came, null only when missing or not a string: for names that
// pass a stricter rule of their own, so a refused one can still be logged.
const char* json_member_raw_string(json_object* object, const char* key);

// Copies at most size-1 bytes of text into buffer and terminates it; a cut
// falls before a UTF-8 character it would split.
void copy_text(char* buffer, size_t size, const char* text);

// The first line (at most 4095 characters) of a file; false when it cannot be read.
bool read_first_line(const std::string& path, std::string& line);
