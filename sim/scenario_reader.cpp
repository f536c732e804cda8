#include "scenario_reader.h"

#include <json-c/json.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace {

enum class Kind { Number, Flag, Text, Object, List, Map, Any };

struct Member;

// What a value must be. An Object may hold only its `members` (and, with
// `messageIds`, hex message ids of any value); a List's items and a Map's
// values, under any name, have the shape of `item`.
struct Shape {
    Kind kind;
    std::vector<Member> members;
    std::vector<Shape> item;  // one shape, for List and Map
    bool messageIds = false;
};

struct Member {
    const char* name;
    Shape shape;
};

const Shape kNumber{Kind::Number, {}, {}};
const Shape kFlag{Kind::Flag, {}, {}};
const Shape kText{Kind::Text, {}, {}};
const Shape kAnyObject{Kind::Any, {}, {}};  // sent on as it is written

Shape object(std::vector<Member> members) { return Shape{Kind::Object, std::move(members), {}}; }
Shape list(Shape item) { return Shape{Kind::List, {}, {std::move(item)}}; }
Shape map(Shape value) { return Shape{Kind::Map, {}, {std::move(value)}}; }

Shape modem_shape() {
    Shape failures = object({{"mcm_init", kNumber}, {"mcm_release", kNumber}, {"mgmt_open", kNumber}});
    failures.messageIds = true;
    return object({
        {"imei", kText}, {"meid", kText}, {"firmware", kText}, {"nitz", kText},
        {"slots", list(object({{"state", kText}, {"iccid", kText}, {"imsi", kText}, {"pin", kText}}))},
        {"signal", map(kNumber)},
        {"network", object({{"registered", kFlag}, {"radio", kNumber}, {"mcc", kText}, {"mnc", kText},
                            {"cell_id", kNumber}, {"lac", kNumber}, {"tac", kNumber}})},
        {"data_call", object({{"result", kText}, {"delay", kNumber}, {"drop_after", kNumber},
                              {"reason", kNumber}, {"drop", kFlag}, {"ipv6", kFlag}})},
        {"failures", failures},
        {"at", object({{"delay", kNumber},
                       {"servingcell", object({{"state", kText}, {"fields", kText}})},
                       {"commands",
                        map(object({{"errors", kNumber}, {"delay", kNumber}, {"silent", kFlag}}))}})},
    });
}

Shape cloud_shape() {
    return object({
        {"refuse_token", kNumber}, {"refuse_status", kNumber}, {"server_errors", kNumber},
        {"server_error_status", kNumber}, {"drop_camera", kNumber}, {"not_json", kNumber},
        {"token_answer", kText}, {"stored_token", kText}, {"config", kAnyObject},
        {"requests", kAnyObject}, {"files", map(kText)}, {"pictures_wanted", kNumber},
        {"upload_status", map(kNumber)}, {"foreign_ca", kFlag},
        {"instruction", kAnyObject},
        {"token_length", kNumber},
        {"upload_headers", map(kText)},
        {"uploads", list(kAnyObject)},
        {"padding", kNumber},
        {"silent", list(kText)},
        {"retry_after", kText},
        {"repeat_requests", kFlag},
    });
}

const Shape& scenario_shape() {
    static const Shape shape = object({
        {"description", kText},
        {"clock_speed", kNumber},
        {"sd_card", kFlag},
        {"camera_card", object({{"pictures", kNumber}, {"old_pictures", kNumber}, {"width", kNumber},
                                {"height", kNumber}, {"without_exif", kFlag}, {"not_a_picture", kFlag},
                                {"movie", kFlag}})},
        {"transfer_failures", kNumber},
        {"modem", modem_shape()},
        {"cloud", cloud_shape()},
        {"update_package", object({{"manifest", kAnyObject}, {"firmware_file", kText}})},
        {"mcu_loader", object({{"resend_at", kNumber}, {"refuse_at", kNumber}, {"silent_at", kNumber}})},
        {"steps", list(object({{"note", kText}, {"pause", kNumber}, {"wait_log", kText}, {"expect", kText},
                               {"within", kNumber}, {"send", kText}, {"answer_within", kNumber},
                               {"exit_within", kNumber}}))},
    });
    return shape;
}

bool has_kind(json_object* value, Kind kind) {
    switch (kind) {
        case Kind::Number:
            return json_object_is_type(value, json_type_int) || json_object_is_type(value, json_type_double);
        case Kind::Flag: return json_object_is_type(value, json_type_boolean);
        case Kind::Text: return json_object_is_type(value, json_type_string);
        case Kind::List: return json_object_is_type(value, json_type_array);
        default: return json_object_is_type(value, json_type_object);
    }
}

const char* kind_name(Kind kind) {
    switch (kind) {
        case Kind::Number: return "a number";
        case Kind::Flag: return "true or false";
        case Kind::Text: return "a text";
        case Kind::List: return "a list";
        default: return "an object";
    }
}

bool is_message_id(const char* name) {
    char* end = nullptr;
    std::strtoul(name, &end, 16);
    return end != name && *end == '\0';
}

// Where a value is, for a message; the scenario itself is "" here.
std::string place(const std::string& where) { return where.empty() ? "top level" : where; }

std::string check(json_object* value, const Shape& shape, const std::string& where);

std::string check_members(json_object* value, const Shape& shape, const std::string& where) {
    const std::string prefix = where.empty() ? "" : where + ".";
    json_object_object_foreach(value, name, member) {
        const Member* known = nullptr;
        for (const Member& candidate : shape.members)
            if (std::strcmp(candidate.name, name) == 0) known = &candidate;
        if (known == nullptr && shape.messageIds && is_message_id(name)) continue;
        if (known == nullptr) {
            std::string names;
            for (const Member& candidate : shape.members)
                names += std::string(names.empty() ? "" : ", ") + candidate.name;
            return place(where) + ": unknown member \"" + name + "\" (known: " + names + ")";
        }
        if (std::string error = check(member, known->shape, prefix + name); !error.empty()) return error;
    }
    return {};
}

std::string check(json_object* value, const Shape& shape, const std::string& where) {
    if (!has_kind(value, shape.kind)) return place(where) + ": must be " + kind_name(shape.kind);
    if (shape.kind == Kind::Object) return check_members(value, shape, where);
    if (shape.kind == Kind::List) {
        for (size_t i = 0; i < json_object_array_length(value); ++i) {
            std::string error = check(json_object_array_get_idx(value, i), shape.item.front(),
                                      where + "[" + std::to_string(i) + "]");
            if (!error.empty()) return error;
        }
    }
    if (shape.kind == Kind::Map) {
        json_object_object_foreach(value, name, member) {
            std::string error = check(member, shape.item.front(), where + "[\"" + name + "\"]");
            if (!error.empty()) return error;
        }
    }
    return {};
}

// "line:column" (both from 1) of a byte offset into the text.
std::string line_and_column(const std::string& text, size_t offset) {
    size_t line = 1, lineStart = 0;
    for (size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        ++line;
        lineStart = i + 1;
    }
    return std::to_string(line) + ":" + std::to_string(offset - lineStart + 1);
}

// Parses strict JSON; null with "<file>:<line>:<column>: JSON syntax error: ..." when it is not.
JsonPtr parse_strictly(const std::string& file, const std::string& text, std::string& error) {
    std::unique_ptr<json_tokener, void (*)(json_tokener*)> tokener(json_tokener_new(), json_tokener_free);
    json_tokener_set_flags(tokener.get(), JSON_TOKENER_STRICT);
    JsonPtr value(json_tokener_parse_ex(tokener.get(), text.c_str(), static_cast<int>(text.size())));
    const json_tokener_error status = json_tokener_get_error(tokener.get());
    if (status == json_tokener_success) return value;
    // The tokener stops at the character it could not take.
    const bool cut = status == json_tokener_continue;
    const size_t where = cut ? text.size() : json_tokener_get_parse_end(tokener.get());
    error = file + ":" + line_and_column(text, where) + ": JSON syntax error: " +
            (cut ? "the file ends inside the JSON" : json_tokener_error_desc(status));
    return nullptr;
}

}  // namespace

JsonPtr scenario_read(const std::string& file, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read scenario " + file + ": " + std::strerror(errno);
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    JsonPtr scenario = parse_strictly(file, text.str(), error);
    if (!scenario) return nullptr;
    if (std::string fault = check(scenario.get(), scenario_shape(), ""); !fault.empty()) {
        error = file + ": " + fault;
        return nullptr;
    }
    return scenario;
}
