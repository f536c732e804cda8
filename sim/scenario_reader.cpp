#include "sim/scenario_reader.h"

#include <json-c/json.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

namespace {

enum class Kind { Number, Flag, Text, Object, List, Map, Any, Either };

struct Member;

// What a value must be. An Object may hold only its `members` (and, with
// `messageIds`, hex message ids of any value); a List's items and a Map's
// values, under any name, have the shape of `item`; an Either is the first of
// its `item` shapes whose kind the value has. A Text or a Map's names may be
// held to `choices`; a Number to a range; a Text may have to name a file that
// can be read.
struct Shape {
    Shape(Kind kind, std::vector<Member> members = {}, std::vector<Shape> item = {});
    Kind kind;
    std::vector<Member> members;
    std::vector<Shape> item;
    bool messageIds = false;
    std::vector<const char*> choices;
    double low = -INFINITY, high = INFINITY;
    bool whole = false;
    bool readableFile = false;
    size_t most = SIZE_MAX;  // a List's items
};

struct Member {
    const char* name;
    Shape shape;
};

Shape::Shape(Kind kind, std::vector<Member> members, std::vector<Shape> item)
    : kind(kind), members(std::move(members)), item(std::move(item)) {}

const Shape kFlag{Kind::Flag};
const Shape kText{Kind::Text};
const Shape kAnyObject{Kind::Any};  // sent on as it is written

Shape object(std::vector<Member> members) { return Shape{Kind::Object, std::move(members)}; }
Shape list(Shape item, size_t most = SIZE_MAX) {
    Shape shape{Kind::List, {}, {std::move(item)}};
    shape.most = most;
    return shape;
}
Shape map(Shape value, std::vector<const char*> names = {}) {
    Shape shape{Kind::Map, {}, {std::move(value)}};
    shape.choices = std::move(names);
    return shape;
}
Shape either(std::vector<Shape> alternatives) {
    return Shape{Kind::Either, {}, std::move(alternatives)};
}
Shape number(double low, double high) {
    Shape shape{Kind::Number};
    shape.low = low;
    shape.high = high;
    return shape;
}
Shape whole(double low, double high) {
    Shape shape = number(low, high);
    shape.whole = true;
    return shape;
}
Shape one_of(std::vector<const char*> values) {
    Shape shape{Kind::Text};
    shape.choices = std::move(values);
    return shape;
}
Shape file_name() {
    Shape shape{Kind::Text};
    shape.readableFile = true;
    return shape;
}

const Shape kCount = whole(0, 1e6);
const Shape kSeconds = number(0, 86400);
const Shape kAnyInteger = whole(-2147483648.0, 4294967295.0);
const Shape kStatus = whole(100, 599);

Shape data_call_shape() {
    const Shape result = one_of({"connect", "fail", "refuse"});
    const Shape outcome = object({{"result", result}, {"delay", kSeconds}, {"drop_after", kSeconds},
                                  {"reason", whole(0, 4294967295.0)}, {"drop", kFlag},
                                  {"ipv6", kFlag}});
    return either({outcome, list(either({result, outcome}))});
}

Shape modem_shape() {
    Shape failures = object(
        {{"mcm_init", kAnyInteger}, {"mcm_release", kAnyInteger}, {"mgmt_open", kAnyInteger}});
    failures.messageIds = true;
    return object({
        {"imei", kText}, {"meid", kText}, {"firmware", kText}, {"nitz", kText},
        {"slots", list(object({{"state", one_of({"ready", "absent", "error"})}, {"iccid", kText},
                               {"imsi", kText}, {"pin", kText}}),
                       2)},
        {"signal", map(whole(-150, 0), {"gsm", "wcdma", "tdscdma", "lte", "cdma", "hdr"})},
        {"network", object({{"registered", kFlag}, {"radio", whole(0, 255)}, {"mcc", kText},
                            {"mnc", kText}, {"cell_id", whole(0, 4294967295.0)},
                            {"lac", whole(0, 65535)}, {"tac", whole(0, 65535)}})},
        {"data_call", data_call_shape()},
        {"failures", failures},
        {"at", object({{"delay", kSeconds},
                       {"servingcell", object({{"state", kText}, {"fields", kText}})},
                       {"commands", map(object({{"errors", kCount}, {"delay", kSeconds},
                                                {"silent", kFlag}}))}})},
    });
}

Shape cloud_shape() {
    return object({
        {"refuse_token", kCount}, {"refuse_status", kStatus}, {"server_errors", kCount},
        {"server_error_status", kStatus}, {"drop_camera", kCount}, {"not_json", kCount},
        {"token_answer", kText}, {"stored_token", kText}, {"config", kAnyObject},
        {"requests", kAnyObject}, {"files", map(file_name())}, {"pictures_wanted", kCount},
        {"instruction", kAnyObject}, {"upload_status", map(whole(0, 599))}, {"foreign_ca", kFlag},
        {"token_length", kCount}, {"upload_headers", map(kText)}, {"uploads", list(kAnyObject)},
        {"padding", kCount}, {"silent", list(one_of({"token", "camera", "storage", "files"}))},
        {"retry_after", kText}, {"repeat_requests", kFlag},
    });
}

const Shape& scenario_shape() {
    static const Shape shape = object({
        {"description", kText},
        {"clock_speed", number(0.01, 1000)},
        {"sd_card", kFlag},
        {"camera_card", object({{"pictures", whole(0, 10000)}, {"old_pictures", whole(0, 10000)},
                                {"width", whole(8, 20000)}, {"height", whole(8, 20000)},
                                {"without_exif", kFlag}, {"not_a_picture", kFlag},
                                {"movie", kFlag}})},
        {"transfer_failures", kCount},
        {"modem", modem_shape()},
        {"cloud", cloud_shape()},
        {"update_package", object({{"manifest", kAnyObject}, {"firmware_file", file_name()}})},
        {"mcu_loader", object({{"resend_at", whole(0, 65535)}, {"refuse_at", whole(0, 65535)},
                               {"silent_at", whole(0, 65535)}})},
        {"steps", list(object({{"note", kText}, {"pause", kSeconds}, {"wait_log", kText},
                               {"expect", kText}, {"within", kSeconds}, {"send", kText},
                               {"answer_within", kSeconds}, {"exit_within", kSeconds}}))},
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

std::string quoted_list(const std::vector<const char*>& names, bool quotes) {
    std::string out;
    const std::string mark = quotes ? "\"" : "";
    for (const char* name : names) out += (out.empty() ? "" : ", ") + mark + name + mark;
    return out;
}

bool chosen(const std::vector<const char*>& choices, const char* value) {
    return choices.empty() || std::any_of(choices.begin(), choices.end(), [value](const char* c) {
               return std::strcmp(c, value) == 0;
           });
}

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string check(json_object* value, const Shape& shape, const std::string& where);

std::string check_members(json_object* value, const Shape& shape, const std::string& where) {
    const std::string prefix = where.empty() ? "" : where + ".";
    json_object_object_foreach(value, name, member) {
        const Member* known = nullptr;
        for (const Member& candidate : shape.members)
            if (std::strcmp(candidate.name, name) == 0) known = &candidate;
        if (known == nullptr && shape.messageIds && is_message_id(name)) continue;
        if (known == nullptr) {
            std::vector<const char*> names;
            for (const Member& candidate : shape.members) names.push_back(candidate.name);
            return place(where) + ": unknown member \"" + name +
                   "\" (known: " + quoted_list(names, false) + ")";
        }
        if (std::string error = check(member, known->shape, prefix + name); !error.empty()) return error;
    }
    return {};
}

std::string check_number(json_object* value, const Shape& shape, const std::string& where) {
    const double number = json_object_get_double(value);
    const bool whole = number == std::floor(number);
    if (number >= shape.low && number <= shape.high && (!shape.whole || whole)) return {};
    std::string allowed = shape.whole ? "a whole number" : "a number";
    if (shape.high < INFINITY)
        allowed += " from " + number_text(shape.low) + " to " + number_text(shape.high);
    return place(where) + ": " + json_object_to_json_string(value) + " is not " + allowed;
}

std::string check_text(json_object* value, const Shape& shape, const std::string& where) {
    const char* text = json_object_get_string(value);
    if (!chosen(shape.choices, text))
        return place(where) + ": \"" + text + "\" is not one of " +
               quoted_list(shape.choices, true);
    if (!shape.readableFile) return {};
    errno = 0;
    std::ifstream file(text, std::ios::binary);
    if (!file || file.peek() == std::ifstream::traits_type::eof())
        return place(where) + ": cannot read " + text + ": " +
               (errno != 0 ? std::strerror(errno) : "empty");
    return {};
}

std::string check(json_object* value, const Shape& shape, const std::string& where) {
    if (shape.kind == Kind::Either) {
        for (const Shape& alternative : shape.item)
            if (has_kind(value, alternative.kind)) return check(value, alternative, where);
        std::string kinds;
        for (const Shape& alternative : shape.item)
            kinds += std::string(kinds.empty() ? "" : " or ") + kind_name(alternative.kind);
        return place(where) + ": must be " + kinds;
    }
    if (!has_kind(value, shape.kind)) return place(where) + ": must be " + kind_name(shape.kind);
    switch (shape.kind) {
        case Kind::Number: return check_number(value, shape, where);
        case Kind::Text: return check_text(value, shape, where);
        case Kind::Object: return check_members(value, shape, where);
        case Kind::List:
            if (json_object_array_length(value) > shape.most)
                return place(where) + ": at most " + std::to_string(shape.most) + " items";
            for (size_t i = 0; i < json_object_array_length(value); ++i) {
                std::string error = check(json_object_array_get_idx(value, i), shape.item.front(),
                                          where + "[" + std::to_string(i) + "]");
                if (!error.empty()) return error;
            }
            return {};
        case Kind::Map: {
            json_object_object_foreach(value, name, member) {
                if (!chosen(shape.choices, name))
                    return place(where) + ": unknown name \"" + name +
                           "\" (known: " + quoted_list(shape.choices, false) + ")";
                std::string error = check(member, shape.item.front(), where + "[\"" + name + "\"]");
                if (!error.empty()) return error;
            }
            return {};
        }
        default: return {};
    }
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
