#include "sim/at_modem.h"

#include <json-c/json.h>
#include <strings.h>

#include <cstdio>
#include <filesystem>

#include "core/json_util.h"
#include "sim/sim_files.h"

namespace {

json_object* object_member(json_object* object, const char* key) {
    json_object* value = nullptr;
    if (object == nullptr || !json_object_object_get_ex(object, key, &value)) return nullptr;
    return json_object_is_type(value, json_type_object) ? value : nullptr;
}

double number_member(json_object* object, const char* key, double fallback) {
    json_object* value = nullptr;
    if (object == nullptr || !json_object_object_get_ex(object, key, &value)) return fallback;
    return json_object_get_double(value);
}

std::string text_member(json_object* object, const char* key) {
    const char* text = object ? json_member_raw_string(object, key) : nullptr;
    return text ? text : "";
}

bool starts_with(const std::string& line, const char* prefix) {
    return strncasecmp(line.c_str(), prefix, std::char_traits<char>::length(prefix)) == 0;
}

std::string serving_cell(json_object* at) {
    json_object* cell = object_member(at, "servingcell");
    if (cell == nullptr) return "OK";
    std::string fields = text_member(cell, "fields");
    return "+QENG: \"servingcell\",\"" + text_member(cell, "state") + "\"" +
           (fields.empty() ? "" : "," + fields) + "\r\n\r\nOK";
}

}  // namespace

AtReply AtInterpreter::answer(const std::string& line) {
    FILE* log = std::fopen((root_ + "/sim/at.log").c_str(), "a");
    if (log != nullptr) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fclose(log);
    }
    JsonPtr scenario(json_object_from_file((root_ + "/sim/modem.json").c_str()));
    json_object* at = object_member(scenario.get(), "at");
    AtReply reply;
    reply.text = "OK";
    reply.delay = number_member(at, "delay", 0);
    if (json_object* commands = object_member(at, "commands")) {
        json_object_object_foreach(commands, prefix, rule) {
            if (!starts_with(line, prefix)) continue;
            reply.delay = number_member(rule, "delay", reply.delay);
            json_object* silent = nullptr;
            reply.silent = json_object_object_get_ex(rule, "silent", &silent) &&
                           json_object_get_boolean(silent);
            int& sent = errorsSent_[prefix];
            if (sent < static_cast<int>(number_member(rule, "errors", 0))) {
                ++sent;
                reply.text = "ERROR";
                return reply;
            }
        }
    }
    std::error_code ignored;
    if (starts_with(line, "AT+CFUN=0")) sim_write_file(root_ + "/sim/radio_off", "");
    if (starts_with(line, "AT+CFUN=1")) std::filesystem::remove(root_ + "/sim/radio_off", ignored);
    if (starts_with(line, "at+qeng=\"servingcell\"")) reply.text = serving_cell(at);
    return reply;
}
