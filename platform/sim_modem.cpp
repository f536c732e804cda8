#include "platform/sim_modem.h"

#include <json-c/json.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace sim_modem {
namespace {

using Json = std::unique_ptr<json_object, decltype(&json_object_put)>;

// The board wires the SIM control line (module pin 41) to SoC GPIO 7 and its
// second line (module pin 37) to SoC GPIO 22.
constexpr const char* kSimControlValue = "/sys/class/gpio/gpio7/value";
constexpr const char* kSimSecondValue = "/sys/class/gpio/gpio22/value";

// Never destroyed: the libraries' threads may still read it while the
// process exits.
struct State {
    std::mutex mutex;
    Scenario scenario;
    struct stat seen {};
    bool pinVerified = false;
    int lastSlot = -2;
    size_t callAttempts = 0;
};
State& g = *new State;

json_object* member(json_object* object, const char* key) {
    json_object* value = nullptr;
    return json_object_object_get_ex(object, key, &value) ? value : nullptr;
}

void read_text(json_object* object, const char* key, std::string& field) {
    json_object* value = member(object, key);
    if (value != nullptr && json_object_is_type(value, json_type_string))
        field = json_object_get_string(value);
}

template <typename Number>
void read_number(json_object* object, const char* key, Number& field) {
    json_object* value = member(object, key);
    if (value == nullptr) return;
    if (json_object_is_type(value, json_type_double))
        field = static_cast<Number>(json_object_get_double(value));
    else if (json_object_is_type(value, json_type_int))
        field = static_cast<Number>(json_object_get_int64(value));
}

void read_flag(json_object* object, const char* key, bool& field) {
    json_object* value = member(object, key);
    if (value != nullptr && json_object_is_type(value, json_type_boolean))
        field = json_object_get_boolean(value) != 0;
}

void read_failures(json_object* failures, Scenario& scenario) {
    if (failures == nullptr) return;
    read_number(failures, "mcm_init", scenario.mcmInit);
    read_number(failures, "mcm_release", scenario.mcmRelease);
    read_number(failures, "mgmt_open", scenario.mgmtOpen);
    json_object_object_foreach(failures, key, value) {
        char* end = nullptr;
        const unsigned long id = std::strtoul(key, &end, 16);
        if (end == key || *end != '\0') continue;
        const auto msgId = static_cast<uint32_t>(id);
        if (json_object_is_type(value, json_type_object)) {
            Codes codes;
            read_number(value, "ret", codes.ret);
            read_number(value, "resp", codes.resp);
            read_number(value, "error", codes.error);
            scenario.mcmFailures[msgId] = codes;
        } else {
            scenario.mgmtFailures[msgId] = json_object_get_int(value);
        }
    }
}

// An outcome: an object, or its "result" alone.
DataCall data_call_of(json_object* call) {
    DataCall d;
    if (json_object_is_type(call, json_type_string)) {
        d.result = json_object_get_string(call);
        return d;
    }
    read_text(call, "result", d.result);
    read_number(call, "delay", d.delay);
    read_number(call, "drop_after", d.dropAfter);
    read_number(call, "reason", d.reason);
    read_flag(call, "drop", d.drop);
    read_flag(call, "ipv6", d.ipv6);
    return d;
}

Scenario parse(json_object* file) {
    Scenario scenario;
    read_text(file, "imei", scenario.imei);
    read_text(file, "meid", scenario.meid);
    read_text(file, "firmware", scenario.firmware);
    read_text(file, "nitz", scenario.nitz);
    if (json_object* slots = member(file, "slots"); slots && json_object_is_type(slots, json_type_array)) {
        for (size_t i = 0; i < 2 && i < json_object_array_length(slots); ++i) {
            json_object* slot = json_object_array_get_idx(slots, i);
            Card& card = scenario.slots[i];
            read_text(slot, "state", card.state);
            read_text(slot, "iccid", card.iccid);
            read_text(slot, "imsi", card.imsi);
            read_text(slot, "pin", card.pin);
        }
    }
    if (json_object* signal = member(file, "signal")) {
        json_object_object_foreach(signal, radio, level) {
            scenario.signal[radio] = json_object_get_int(level);
        }
    }
    if (json_object* network = member(file, "network")) {
        Network& n = scenario.network;
        n.registered = true;
        read_flag(network, "registered", n.registered);
        read_number(network, "radio", n.radio);
        read_text(network, "mcc", n.mcc);
        read_text(network, "mnc", n.mnc);
        read_number(network, "cell_id", n.cellId);
        read_number(network, "lac", n.lac);
        read_number(network, "tac", n.tac);
    }
    if (json_object* call = member(file, "data_call")) {
        if (!json_object_is_type(call, json_type_array))
            scenario.dataCalls.push_back(data_call_of(call));
        else
            for (size_t i = 0; i < json_object_array_length(call); ++i)
                scenario.dataCalls.push_back(data_call_of(json_object_array_get_idx(call, i)));
    }
    read_failures(member(file, "failures"), scenario);
    return scenario;
}

// The whole file, opened close-on-exec like everything in the daemon's process.
std::string read_text(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "re"), std::fclose);
    std::string text;
    char buffer[4096];
    for (size_t n; file && (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
        text.append(buffer, n);
    return text;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// Reads the scenario again when the file changed; a file that does not parse
// (half written) leaves the last good one in force.
void refresh_locked() {
    const std::string path = root() + "/sim/modem.json";
    struct stat now {};
    if (stat(path.c_str(), &now) != 0) {
        g.scenario = Scenario{};
        g.seen = {};
        return;
    }
    if (same_file(now, g.seen)) return;
    Json file(json_tokener_parse(read_text(path).c_str()), json_object_put);
    if (!file) return;
    g.scenario = parse(file.get());
    g.seen = now;
    g.callAttempts = 0;
}

int line_level(const char* devicePath) {
    return std::atoi(read_text(root() + devicePath).c_str());
}

// "AT+CFUN=0" on the board's AT interpreter takes the card away until "AT+CFUN=1".
int visible_slot() {
    struct stat radioOff {};
    if (stat((root() + "/sim/radio_off").c_str(), &radioOff) == 0) return -1;
    const int control = line_level(kSimControlValue);
    const int second = line_level(kSimSecondValue);
    if (control != second) return -1;
    return control != 0 ? 1 : 0;
}

SeenCard seen_card_locked(int slot) {
    refresh_locked();
    // A card that comes into view starts locked again.
    if (slot != g.lastSlot) g.pinVerified = false;
    g.lastSlot = slot;
    SeenCard seen;
    seen.slot = slot;
    if (slot >= 0) seen.card = g.scenario.slots[slot];
    seen.pinNeeded = seen.card.state == "ready" && !seen.card.pin.empty() && !g.pinVerified;
    return seen;
}

}  // namespace

std::string root() {
    const char* value = std::getenv("QZ_ROOT");
    return value != nullptr ? value : "";
}

Scenario scenario() {
    std::lock_guard<std::mutex> lock(g.mutex);
    refresh_locked();
    return g.scenario;
}

SeenCard seen_card() {
    const int slot = visible_slot();
    std::lock_guard<std::mutex> lock(g.mutex);
    return seen_card_locked(slot);
}

DataCall data_call(const Scenario& scenario, size_t attempt) {
    if (scenario.dataCalls.empty()) return DataCall{};
    return scenario.dataCalls[std::min(attempt, scenario.dataCalls.size() - 1)];
}

size_t next_call_attempt() {
    std::lock_guard<std::mutex> lock(g.mutex);
    refresh_locked();
    return g.callAttempts++;
}

bool verify_pin(const std::string& pin) {
    const int slot = visible_slot();
    std::lock_guard<std::mutex> lock(g.mutex);
    // Judged on the card seen now, so a slot change cannot unlock the next card.
    const SeenCard seen = seen_card_locked(slot);
    if (seen.card.state != "ready" || (!seen.card.pin.empty() && seen.card.pin != pin)) return false;
    g.pinVerified = true;
    return true;
}

bool manager_up() {
    return read_text(root() + "/tmp/.ql_manager_server.lock").rfind("success", 0) == 0;
}

void log(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g.mutex);
    if (FILE* file = std::fopen((root() + "/sim/modem.log").c_str(), "ae")) {
        std::fprintf(file, "%s\n", text);
        std::fclose(file);
    }
}

double now_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void pause_seconds(double seconds) {
    timespec pause{static_cast<time_t>(seconds),
                   static_cast<long>((seconds - static_cast<double>(static_cast<time_t>(seconds))) * 1e9)};
    nanosleep(&pause, nullptr);
}

}  // namespace sim_modem
