#include "modem_sdk/ql_mgmt.h"

#include <ql_mgmt_client.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/device_root.h"
#include "core/json_util.h"
#include "modem_sdk/mgmt_wire.h"
#include "modem_sdk/ql_api_log.h"

namespace {

// Record values and the codes the server uses for them; reading maps back.
constexpr uint8_t kPdpCodes[] = {0, 1, 2, 3};
constexpr uint8_t kAuthCodes[] = {255, 0, 1, 2, 3};

// The record value of a code, or -1 when the code is none of the table's.
template <size_t N>
int decode(const uint8_t (&table)[N], uint8_t code) {
    for (size_t value = 0; value < N; ++value)
        if (table[value] == code) return static_cast<int>(value);
    return -1;
}

constexpr int kMgmtUnopened = 2;
constexpr uint32_t kMaxFamily = 2;
constexpr size_t kListMax = 8;

std::mutex g_handleMutex;
uint32_t g_mgmtHandle = 0;

// Written by QL_Data_Call_Init before any call starts; read on the library's
// thread, which may still deliver an event while the process exits, so the
// list is never destroyed.
std::mutex g_listMutex;
std::list<QlMgmtEventCallback>& g_eventCallbacks = *new std::list<QlMgmtEventCallback>;
std::atomic<QlDataCallEventCallback> g_dataCallCallback{nullptr};

void mgmt_event_dispatch(uint32_t eventId, void* data, uint32_t length) {
    std::vector<QlMgmtEventCallback> callbacks;
    {
        std::lock_guard<std::mutex> lock(g_listMutex);
        callbacks.assign(g_eventCallbacks.begin(), g_eventCallbacks.end());
    }
    for (QlMgmtEventCallback callback : callbacks) callback(eventId, data, length);
}

uint32_t opened_handle() {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    if (g_mgmtHandle == 0) {
        uint32_t handle = 0;
        if (ql_mgmt_client_open(&handle, mgmt_event_dispatch) == 0) g_mgmtHandle = handle;
    }
    return g_mgmtHandle;
}

void data_call_event_handler(uint32_t eventId, void* data, uint32_t length) {
    const QlDataCallEventCallback callback = g_dataCallCallback.load();
    if (data == nullptr || length != kMgmtEventLength || callback == nullptr ||
        eventId != kMgmtDataCallStart)
        return;
    MgmtDataCallEvent event;
    std::memcpy(&event, data, sizeof event);
    QlDataCallEvent record{};
    record.profile_index = event.profile_index;
    record.has_second_block = event.has_second_block != 0 ? 1 : 0;
    record.reason = event.reason;
    if (event.state == 1) {
        record.state = 1;
        std::memcpy(record.profile_name, event.profile_name,
                    strnlen(event.profile_name, sizeof record.profile_name));
        std::memcpy(record.first_block, event.first_block, sizeof record.first_block);
        if (record.has_second_block)
            std::memcpy(record.second_block, event.second_block, sizeof record.second_block);
    }
    callback(&record);
}

int invalid(const ApiCall& call) {
    call.log(kQlLogError, "Invalid param");
    return -1;
}

// One set or get with the operation's failure text; 0 or -1.
int exchange(const ApiCall& call, bool set, uint32_t msgId, void* record, const char* failure) {
    const int rc = set ? mgmt_set(msgId, record, kMgmtRecordSize)
                       : mgmt_get(msgId, record, kMgmtRecordSize);
    if (rc == 0) return 0;
    call.log(kQlLogError, "%s", failure);
    return -1;
}

bool pdp_type_valid(const QlApnSettings& settings) { return settings.pdp_type < std::size(kPdpCodes); }
bool auto_proto_valid(const QlApnSettings& settings) {
    return settings.auto_proto < std::size(kAuthCodes);
}

// The settings through the code tables into an APN request; both codes checked by the caller.
void encode_settings(const QlApnSettings& settings, MgmtApnRecord& request) {
    request.pdp_code = kPdpCodes[settings.pdp_type];
    request.auth_code = kAuthCodes[settings.auto_proto];
    copy_text(request.apn_name, sizeof request.apn_name, settings.apn_name);
    copy_text(request.user_name, sizeof request.user_name, settings.user_name);
    copy_text(request.password, sizeof request.password, settings.password);
}

}  // namespace

int mgmt_set(uint32_t msg_id, void* record, uint32_t length) {
    const uint32_t handle = opened_handle();
    return handle == 0 ? kMgmtUnopened : ql_mgmt_client_set(handle, msg_id, record, length);
}

int mgmt_get(uint32_t msg_id, void* record, uint32_t length) {
    const uint32_t handle = opened_handle();
    return handle == 0 ? kMgmtUnopened : ql_mgmt_client_get(handle, msg_id, record, length);
}

void mgmt_close() {
    uint32_t handle = 0;
    {
        std::lock_guard<std::mutex> lock(g_handleMutex);
        std::swap(handle, g_mgmtHandle);
    }
    // Closed outside the lock: closing waits for the event thread, whose
    // callbacks may themselves make calls that take the lock.
    if (handle != 0) ql_mgmt_client_close(handle);
}

void mgmt_event_cb_add(QlMgmtEventCallback callback) {
    std::lock_guard<std::mutex> lock(g_listMutex);
    if (std::find(g_eventCallbacks.begin(), g_eventCallbacks.end(), callback) !=
        g_eventCallbacks.end())
        return;
    g_eventCallbacks.push_front(callback);
}

void mgmt_event_cb_remove(QlMgmtEventCallback callback) {
    std::lock_guard<std::mutex> lock(g_listMutex);
    g_eventCallbacks.remove(callback);
}

// For tests (state_reset.h).
void mgmt_reset() {
    mgmt_close();
    std::lock_guard<std::mutex> lock(g_listMutex);
    g_eventCallbacks.clear();
    g_dataCallCallback = nullptr;
}

int QL_Data_Call_Start(const QlDataCallStart* start, int* error) {
    QL_API_CALL(call);
    if (start == nullptr) return call.exit(invalid(call));
    if (start->profile_index > kApnProfileMax || start->ip_family > kMaxFamily) {
        if (error != nullptr) *error = 1;
        return call.exit(invalid(call));
    }
    MgmtDataCallRecord request{};
    request.profile_index = start->profile_index;
    request.ip_family = start->ip_family;
    request.option = start->option;
    copy_text(request.user_name, sizeof request.user_name, start->user_name);
    copy_text(request.password, sizeof request.password, start->password);
    return call.exit(
        exchange(call, true, kMgmtDataCallStart, &request, "Failed to start data call up"));
}

int QL_Data_Call_Stop(uint8_t profile_index, uint32_t ip_family) {
    QL_API_CALL(call);
    if (profile_index > kApnProfileMax || ip_family > kMaxFamily)
        return call.exit(invalid(call));
    MgmtDataCallRecord request{};
    request.profile_index = profile_index;
    request.ip_family = ip_family;
    return call.exit(
        exchange(call, true, kMgmtDataCallStop, &request, "Failed to set data call down"));
}

int QL_Data_Call_Info_Get(uint8_t profile_index, uint32_t ip_family, QlDataCallInfo* info, int*) {
    QL_API_CALL(call);
    if (info == nullptr || profile_index > kApnProfileMax || ip_family > kMaxFamily)
        return call.exit(invalid(call));
    MgmtInfoRecord record{};
    record.info.profile_index = profile_index;
    record.info.ip_family = ip_family;
    if (exchange(call, false, kMgmtDataCallInfo, &record, "Failed to mgmt_client_get") != 0)
        return call.exit(-1);
    *info = record.info;
    return call.exit(0);
}

int QL_Data_Call_Set_Default_Profile(const QlDefaultProfile* profile) {
    QL_API_CALL(call);
    if (profile == nullptr || profile->profile_index > kApnProfileMax)
        return call.exit(invalid(call));
    MgmtDefaultProfileRecord request{};
    request.profile_index = profile->profile_index;
    request.mode = 2;
    return call.exit(exchange(call, true, kMgmtDefaultProfile, &request,
                              "Failed to set data call default profile"));
}

int QL_Data_Call_Get_Default_Profile(uint8_t* profile_index) {
    QL_API_CALL(call);
    if (profile_index == nullptr) return call.exit(invalid(call));
    MgmtDefaultProfileRecord record{};
    if (exchange(call, false, kMgmtDefaultProfile, &record, "Failed to mgmt_client_get") != 0)
        return call.exit(-1);
    *profile_index = record.profile_index;
    return call.exit(0);
}

int QL_Data_Call_Init_Precondition() {
    const std::string path = device_path("/tmp/.ql_manager_server.lock");
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "re"), std::fclose);
    if (!file) {
        QL_LOG(kQlLogInfo, "open /tmp/.ql_manager_server.lock failure: %s", std::strerror(errno));
        return -1;
    }
    char line[12]{};
    if (std::fgets(line, sizeof line, file.get()) == nullptr) return -1;
    if (std::strncmp(line, "success", 7) != 0) return -1;
    QL_LOG(kQlLogInfo, "the ql_manager_server init success");
    return 0;
}

int QL_Data_Call_Init(QlDataCallEventCallback callback) {
    mgmt_event_cb_add(data_call_event_handler);
    QlDataCallEventCallback empty = nullptr;
    g_dataCallCallback.compare_exchange_strong(empty, callback);
    return 0;
}

int QL_APN_Set(const QlApnProfile* apn) {
    QL_API_CALL(call);
    if (apn == nullptr || apn->profile_index > kApnProfileMax)
        return call.exit(invalid(call));
    if (!pdp_type_valid(apn->settings)) {
        call.log(kQlLogError, "Invalid pdp_type : %d", static_cast<int>(apn->settings.pdp_type));
        return call.exit(-1);
    }
    if (!auto_proto_valid(apn->settings)) {
        call.log(kQlLogError, "Invalid auto_proto : %d",
                 static_cast<int>(apn->settings.auto_proto));
        return call.exit(-1);
    }
    MgmtApnRecord request{};
    request.index_is_zero = apn->profile_index == 0 ? 1 : 0;
    request.profile_index = apn->profile_index;
    encode_settings(apn->settings, request);
    return call.exit(exchange(call, true, kMgmtApnProfile, &request, "Failed to set data call apn"));
}

int QL_APN_Get(uint8_t profile_index, QlApnProfile* apn) {
    QL_API_CALL(call);
    if (apn == nullptr || profile_index > kApnProfileMax) return call.exit(invalid(call));
    MgmtApnRecord record{};
    record.index_is_zero = profile_index == 0 ? 1 : 0;
    record.profile_index = profile_index;
    if (exchange(call, false, kMgmtApnProfile, &record, "Failed to get data call apn") != 0)
        return call.exit(-1);
    const int pdp = decode(kPdpCodes, record.pdp_code);
    const int auth = decode(kAuthCodes, record.auth_code);
    if (pdp < 0 || auth < 0) return call.exit(-1);
    *apn = QlApnProfile{};
    apn->profile_index = profile_index;
    apn->settings.pdp_type = static_cast<uint32_t>(pdp);
    apn->settings.auto_proto = static_cast<uint32_t>(auth);
    copy_text(apn->settings.apn_name, sizeof apn->settings.apn_name, record.apn_name);
    copy_text(apn->settings.user_name, sizeof apn->settings.user_name, record.user_name);
    copy_text(apn->settings.password, sizeof apn->settings.password, record.password);
    return call.exit(0);
}

int QL_APN_Add(const QlApnSettings* apn, uint8_t* profile_index) {
    QL_API_CALL(call);
    if (apn == nullptr || profile_index == nullptr) return call.exit(invalid(call));
    MgmtApnRecord request{};
    if (!pdp_type_valid(*apn) || !auto_proto_valid(*apn)) return call.exit(-1);
    encode_settings(*apn, request);
    if (exchange(call, true, kMgmtApnAdd, &request, "Failed to add data call apn") != 0)
        return call.exit(-1);
    *profile_index = request.profile_index;
    return call.exit(0);
}

int QL_APN_Del(uint8_t profile_index) {
    QL_API_CALL(call);
    if (profile_index < 1 || profile_index > kApnProfileMax)
        return call.exit(invalid(call));
    MgmtApnRecord request{};
    request.profile_index = profile_index;
    return call.exit(exchange(call, true, kMgmtApnDelete, &request, "Failed to del data call apn"));
}

int QL_APN_Get_Lists(QlApnList* list) {
    QL_API_CALL(call);
    if (list == nullptr) return call.exit(invalid(call));
    *list = QlApnList{};
    MgmtApnListRecord record{};
    if (mgmt_get(kMgmtApnList, &record, kMgmtRecordSize) != 0) return call.exit(0);
    const size_t count = std::min<size_t>(record.count, kListMax);
    for (size_t loop = 0; loop < count; ++loop) {
        if (QL_APN_Get(record.indices[loop], &list->profiles[loop]) != 0) {
            call.log(kQlLogError, "Failed to get apn, loop=%d", static_cast<int>(loop));
            return call.exit(-1);
        }
        ++list->count;
    }
    return call.exit(static_cast<int>(list->count));
}
