// Host stand-in of the vendor's management client: APN profiles and data
// calls of the simulated modem. A started call connects, fails or drops as
// the scenario says, and its events come from the library's own thread.
// Closing the client forgets its profiles and calls.
#include <ql_mgmt_client.h>

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "modem_sdk/mgmt_wire.h"
#include "platform/sim_modem.h"

namespace {

constexpr int kFailure = 1;
constexpr uint32_t kReasonNoService = 0x21;

struct Call {
    size_t attempt = 0;    // which of the scenario's outcomes it plays
    bool pending = false;  // started, its first event not sent yet
    bool connected = false;
    double eventAt = 0;
    double dropAt = 0;  // 0: stays up
};

std::mutex g_mutex;
uint32_t g_handle = 0;
// Never destroyed: a client still open when the process exits must not end it
// through a joinable thread's destructor.
std::thread* g_thread = nullptr;
std::atomic<bool> g_stop{false};
// Never destroyed: the event thread may still use them while the process exits.
std::map<uint8_t, MgmtApnRecord>& g_profiles = *new std::map<uint8_t, MgmtApnRecord>;
uint8_t g_defaultProfile = 1;
std::map<uint8_t, Call>& g_calls = *new std::map<uint8_t, Call>;
std::vector<MgmtDataCallEvent>& g_outbox = *new std::vector<MgmtDataCallEvent>;

// Addresses of the simulated network: IPv4 address, gateway and two name servers.
constexpr uint8_t kFirstBlock[16] = {10, 64, 0, 2, 10, 64, 0, 1, 10, 64, 0, 53, 10, 64, 1, 53};
constexpr uint8_t kSecondBlock[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};

MgmtDataCallEvent make_event(uint8_t profile, bool connected, uint32_t reason, bool ipv6) {
    MgmtDataCallEvent event{};
    event.profile_index = profile;
    event.state = connected ? 1 : 0;
    event.reason = reason;
    if (connected) {
        auto apn = g_profiles.find(profile);
        if (apn != g_profiles.end())
            std::memcpy(event.profile_name, apn->second.apn_name,
                        strnlen(apn->second.apn_name, 16));
        std::memcpy(event.first_block, kFirstBlock, sizeof kFirstBlock);
        event.has_second_block = ipv6 ? 1 : 0;
        if (ipv6) std::memcpy(event.second_block, kSecondBlock, sizeof kSecondBlock);
    }
    sim_modem::log("data call event: profile %d %s reason %u", profile,
                   connected ? "connected" : "disconnected", reason);
    return event;
}

bool card_usable() {
    const sim_modem::SeenCard seen = sim_modem::seen_card();
    return seen.card.state == "ready" && !seen.pinNeeded;
}

// Moves every call on by the scenario and the card; the events to send.
std::vector<MgmtDataCallEvent> advance_calls() {
    const sim_modem::Scenario scenario = sim_modem::scenario();
    const bool usable = card_usable();
    const double now = sim_modem::now_seconds();
    std::lock_guard<std::mutex> lock(g_mutex);
    std::vector<MgmtDataCallEvent> events;
    events.swap(g_outbox);
    for (auto& [profile, call] : g_calls) {
        const sim_modem::DataCall plan = sim_modem::data_call(scenario, call.attempt);
        if (call.pending && now >= call.eventAt) {
            call.pending = false;
            call.connected = plan.result == "connect" && usable;
            call.dropAt = call.connected && plan.dropAfter > 0 ? now + plan.dropAfter : 0;
            const uint32_t reason = usable ? plan.reason : kReasonNoService;
            events.push_back(make_event(profile, call.connected, call.connected ? 0 : reason,
                                        plan.ipv6));
        } else if (call.connected &&
                   ((call.dropAt > 0 && now >= call.dropAt) || plan.drop || !usable)) {
            call.connected = false;
            events.push_back(make_event(profile, false, usable ? plan.reason : kReasonNoService,
                                        plan.ipv6));
        }
    }
    return events;
}

void event_loop(ql_mgmt_client_event_cb dispatch) {
    while (!g_stop) {
        sim_modem::pause_seconds(0.02);
        for (MgmtDataCallEvent& event : advance_calls())
            if (dispatch != nullptr) dispatch(kMgmtDataCallStart, &event, sizeof event);
    }
}

template <typename Record>
Record read_record(const void* record) {
    Record copy;
    std::memcpy(&copy, record, sizeof copy);
    return copy;
}

template <typename Record>
int write_record(void* record, const Record& value) {
    std::memcpy(record, &value, sizeof value);
    return 0;
}

int start_call(const void* record) {
    const auto request = read_record<MgmtDataCallRecord>(record);
    Call& call = g_calls[request.profile_index];
    if (call.connected || call.pending) return 0;
    const size_t attempt = sim_modem::next_call_attempt();
    const sim_modem::DataCall plan = sim_modem::data_call(sim_modem::scenario(), attempt);
    sim_modem::log("data call start: profile %d, outcome %zu: %s", request.profile_index, attempt,
                   plan.result.c_str());
    if (plan.result == "refuse") {
        g_calls.erase(request.profile_index);
        return kFailure;
    }
    call.attempt = attempt;
    call.pending = true;
    call.eventAt = sim_modem::now_seconds() + plan.delay;
    return 0;
}

int stop_call(const void* record) {
    const auto request = read_record<MgmtDataCallRecord>(record);
    sim_modem::log("data call stop: profile %d", request.profile_index);
    auto call = g_calls.find(request.profile_index);
    if (call == g_calls.end()) return 0;
    if (call->second.connected) g_outbox.push_back(make_event(request.profile_index, false, 0, false));
    g_calls.erase(call);
    return 0;
}

int call_info(void* record) {
    auto info = read_record<MgmtInfoRecord>(record);
    const uint8_t profile = info.info.profile_index;
    auto apn = g_profiles.find(profile);
    if (apn != g_profiles.end())
        std::memcpy(info.info.profile_name, apn->second.apn_name,
                    strnlen(apn->second.apn_name, sizeof info.info.profile_name));
    auto call = g_calls.find(profile);
    info.info.state = call != g_calls.end() && call->second.connected ? 1 : 0;
    return write_record(record, info);
}

uint8_t profile_of(const MgmtApnRecord& apn) { return apn.index_is_zero ? 0 : apn.profile_index; }

int apn_set(const void* record) {
    const auto apn = read_record<MgmtApnRecord>(record);
    g_profiles[profile_of(apn)] = apn;
    sim_modem::log("apn profile %d: %.150s", profile_of(apn), apn.apn_name);
    return 0;
}

int apn_get(void* record) {
    auto found = g_profiles.find(profile_of(read_record<MgmtApnRecord>(record)));
    return found == g_profiles.end() ? kFailure : write_record(record, found->second);
}

int apn_delete(const void* record) {
    g_profiles.erase(profile_of(read_record<MgmtApnRecord>(record)));
    return 0;
}

int apn_add(void* record) {
    auto apn = read_record<MgmtApnRecord>(record);
    for (uint8_t index = 1; index <= kApnProfileMax; ++index) {
        if (g_profiles.count(index) != 0) continue;
        apn.index_is_zero = 0;
        apn.profile_index = index;
        g_profiles[index] = apn;
        return write_record(record, apn);
    }
    return kFailure;
}

int apn_list(void* record) {
    MgmtApnListRecord list{};
    for (const auto& entry : g_profiles) list.indices[list.count++] = entry.first;
    return write_record(record, list);
}

int default_profile(bool set, void* record) {
    auto profile = read_record<MgmtDefaultProfileRecord>(record);
    if (set) {
        g_defaultProfile = profile.profile_index;
        sim_modem::log("default profile %d", g_defaultProfile);
        return 0;
    }
    profile.profile_index = g_defaultProfile;
    return write_record(record, profile);
}

int exchange(bool set, uint32_t handle, uint32_t msgId, void* record, uint32_t length) {
    if (record == nullptr || length != kMgmtRecordSize) return kFailure;
    const sim_modem::Scenario scenario = sim_modem::scenario();
    if (auto forced = scenario.mgmtFailures.find(msgId); forced != scenario.mgmtFailures.end()) {
        sim_modem::log("management %05X: forced %d", msgId, forced->second);
        if (forced->second != 0) return forced->second;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (handle == 0 || handle != g_handle) return kFailure;
    switch (msgId) {
        case kMgmtDataCallStart: return set ? start_call(record) : kFailure;
        case kMgmtDataCallStop: return set ? stop_call(record) : kFailure;
        case kMgmtDataCallInfo: return set ? kFailure : call_info(record);
        case kMgmtApnProfile: return set ? apn_set(record) : apn_get(record);
        case kMgmtApnList: return set ? kFailure : apn_list(record);
        case kMgmtApnDelete: return set ? apn_delete(record) : kFailure;
        case kMgmtApnAdd: return set ? apn_add(record) : kFailure;
        case kMgmtDefaultProfile: return default_profile(set, record);
        default: return kFailure;
    }
}

}  // namespace

int ql_mgmt_client_open(uint32_t* handle, ql_mgmt_client_event_cb dispatcher) {
    if (handle == nullptr) return kFailure;
    if (int forced = sim_modem::scenario().mgmtOpen) return forced;
    if (!sim_modem::manager_up()) return kFailure;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_handle == 0) {
        g_handle = 0x5001;
        g_stop = false;
        g_thread = new std::thread(event_loop, dispatcher);
        sim_modem::log("management client opened");
    }
    *handle = g_handle;
    return 0;
}

int ql_mgmt_client_set(uint32_t handle, uint32_t msg_id, void* record, uint32_t length) {
    return exchange(true, handle, msg_id, record, length);
}

int ql_mgmt_client_get(uint32_t handle, uint32_t msg_id, void* record, uint32_t length) {
    return exchange(false, handle, msg_id, record, length);
}

void ql_mgmt_client_close(uint32_t handle) {
    std::unique_ptr<std::thread> thread;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (handle == 0 || handle != g_handle) return;
        g_handle = 0;
        g_stop = true;
        thread.reset(g_thread);
        g_thread = nullptr;
    }
    if (thread && thread->joinable()) thread->join();
    std::lock_guard<std::mutex> lock(g_mutex);
    g_profiles.clear();
    g_calls.clear();
    g_outbox.clear();
    g_defaultProfile = 1;
    sim_modem::log("management client closed");
}
