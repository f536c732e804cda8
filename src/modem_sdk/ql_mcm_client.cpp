// The shared MCM client: the registry of client types that holds it, the
// start of the vendor's RIL service, readiness waits, and the routing of the
// library's callbacks to the services' handlers.
#include <mcm_client.h>

#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

#include "core/clock_helpers.h"
#include "core/device_root.h"
#include "modem_sdk/mcm_internal.h"
#include "modem_sdk/mcm_wire.h"
#include "modem_sdk/ql_api_log.h"
#include "modem_sdk/ql_mcm.h"
#include "core/run_command.h"
#include "core/time_seam.h"

namespace {

// One entry per client type. The library's thread reads the handlers while
// the registry changes them, so every field is atomic.
struct ClientEntry {
    std::atomic<uint16_t> requiredMask{0};
    std::atomic<McmIndHandler> indHandler{nullptr};
    std::atomic<McmAsyncHandler> asyncHandler{nullptr};
    std::atomic<uint32_t> inUse{0};
};

ClientEntry ql_mcm_client_table[kMcmClientTypeMax + 1];
std::atomic<uint32_t> g_mcmHandle{0};

// Init and deinit run one at a time, so that two first initialisations on
// different threads start the service and the client once, and the second
// finds the type in use. The callbacks never take it.
std::mutex g_registryMutex;

struct RequiredService {
    int type;
    uint16_t mask;
    const char* flag;
};

constexpr RequiredService kRequiredServices[] = {
    {kMcmClientData, 0x10, "/tmp//mcm_data_service_ready.flag"},
    {kMcmClientLocation, 0x40, "/tmp/mcm_loc_service_ready.flag"},
    {kMcmClientMobileAp, 0x80, "/tmp/mcm_mobileap_service_ready.flag"},
    {kMcmClientAtcop, 0x20, "/tmp/mcm_atcop_service_ready.flag"},
    {kMcmClientSim, 0x08, "/tmp/mcm_sim_service_ready.flag"},
};

constexpr const char* kServiceReadyFlag = "/tmp/mcm_service_ready.flag";
constexpr int kFlagTries = 1000;
constexpr unsigned kFlagPauseMs = 10;

const RequiredService* required_service(int type) {
    for (const auto& service : kRequiredServices)
        if (service.type == type) return &service;
    return nullptr;
}

// Up to 10 s for a readiness flag file; a null or empty path never appears.
bool flag_wait(const char* devicePath) {
    if (devicePath == nullptr || *devicePath == '\0') return false;
    const std::string path = device_path(devicePath);
    for (int tries = 0; tries < kFlagTries; ++tries) {
        if (file_exists(path.c_str())) return true;
        sleep_milliseconds(kFlagPauseMs);
    }
    return false;
}

bool valid_type(int type) { return type >= 0 && type <= kMcmClientTypeMax; }

int clients_in_use() {
    int count = 0;
    for (const auto& entry : ql_mcm_client_table) count += entry.inUse.load() ? 1 : 0;
    return count;
}

// Starts the RIL service when it is not running and creates the shared client.
int start_client() {
    if (run_command("pidof -s mcm_ril_service") != 0)
        run_command("%s start", device_path("/etc/init.d/start_mcm_ril_srv_le").c_str());
    if (!flag_wait(kServiceReadyFlag)) {
        QL_LOG(kQlLogError, "Failed to bootup mcm service, waiting timeout");
        return kQlNotReady;
    }
    uint32_t handle = 0;
    const uint32_t ret = mcm_client_init(&handle, ql_mcm_ind_cb, ql_mcm_async_cb);
    if (ret > 1) {
        g_mcmHandle = 0;
        QL_LOG(kQlLogError, "Failed to mcm_client_init, ret=%d", static_cast<int>(ret));
        return static_cast<int>(ret);
    }
    g_mcmHandle = handle;
    QL_LOG(kQlLogInfo, "Init mcm client succeed");
    return 0;
}

bool already_inited(const ClientEntry& entry, int type) {
    if (!entry.inUse.load()) return false;
    QL_LOG(kQlLogInfo, "Client %d is already inited", type);
    return true;
}

// ---- Indication routing --------------------------------------------------

constexpr int kNoEntry = -1;

struct IndicationRoute {
    uint32_t first;
    uint32_t last;
    int type;         // kNoEntry: dropped without a word
    bool alsoAtcop;   // handed to the AT command processor's handler as well
};

constexpr IndicationRoute kIndicationRoutes[] = {
    {0x010C, 0x010C, kMcmClientData, false},   {0x0204, 0x0204, kMcmClientDm, false},
    {0x030E, 0x0317, kMcmClientLocation, false}, {0x050B, 0x050F, kMcmClientNw, false},
    {0x0707, 0x0709, kMcmClientSms, true},     {0x070A, 0x070A, kMcmClientSms, false},
    {0x0B10, 0x0B10, kMcmClientSim, true},     {0x0B11, 0x0B11, kMcmClientSim, false},
    {0x1017, 0x1017, kMcmClientVoice, true},   {0x1018, 0x1018, kMcmClientVoice, false},
    {0x101C, 0x101C, kMcmClientVoice, false},  {0x0427, 0x0427, kNoEntry, false},
};

void deliver_indication(int type, uint32_t handle, uint32_t msgId, void* payload,
                        uint32_t length) {
    if (McmIndHandler handler = ql_mcm_client_table[type].indHandler.load())
        handler(handle, msgId, payload, length);
}

// ---- Service handlers ----------------------------------------------------

// A handler registered by a user of a service, with its user data.
class RxRegistration {
public:
    void set(QlRxHandler handler, void* userData) {
        std::lock_guard<std::mutex> lock(mutex_);
        handler_ = handler;
        userData_ = userData;
    }
    void pass(uint32_t handle, uint32_t msgId, void* payload, uint32_t length) {
        QlRxHandler handler;
        void* userData;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            handler = handler_;
            userData = userData_;
        }
        if (handler != nullptr) handler(handle, msgId, payload, length, userData);
    }

private:
    std::mutex mutex_;
    QlRxHandler handler_ = nullptr;
    void* userData_ = nullptr;
};

RxRegistration g_simRx;
RxRegistration g_nwRx;
std::atomic<QlRadioModeHandler> g_dmRadioMode{nullptr};

constexpr uint32_t kServiceUp = 0x87654321;
constexpr uint32_t kServiceDown = 0x87654320;

// The service-state pseudo-messages end in the log; true when msgId was one.
bool service_state(const char* function, int line, uint32_t msgId, const char* upText) {
    if (msgId == kServiceUp) ql_api_log(function, line, kQlLogInfo, "%s", upText);
    if (msgId == kServiceDown)
        ql_api_log(function, line, kQlLogInfo, "===== UIM Service DOWN ! =========");
    return msgId == kServiceUp || msgId == kServiceDown;
}

void sim_ind_cb(uint32_t handle, uint32_t msgId, void* payload, uint32_t length) {
    QL_LOG(kQlLogInfo, "Recv ind, h_sim=%d  msg_id=%08X", static_cast<int>(handle), msgId);
    if (service_state(__func__, __LINE__, msgId, " ===== UIM Service UP ! =========")) return;
    g_simRx.pass(handle, msgId, payload, length);
}

void sim_async_cb(uint32_t handle, uint32_t msgId, void*, uint32_t, uint32_t) {
    QL_LOG(kQlLogInfo, "h_sim=%d  msg_id=%08X", static_cast<int>(handle), msgId);
}

void nw_ind_cb(uint32_t handle, uint32_t msgId, void* payload, uint32_t length) {
    QL_LOG(kQlLogInfo, "Recv ind, msg_id=%08X", msgId);
    if (service_state(__func__, __LINE__, msgId, " ===== UIM Service UP ! =========")) return;
    g_nwRx.pass(handle, msgId, payload, length);
}

void nw_async_cb(uint32_t, uint32_t msgId, void*, uint32_t, uint32_t) {
    QL_LOG(kQlLogInfo, "Recv async cb, msg_id=%08X", msgId);
}

void mcm_dm_ind_cb(uint32_t, uint32_t msgId, void* payload, uint32_t length) {
    QL_LOG(kQlLogInfo, "Recv ind cb, msg_id=%08X", msgId);
    if (service_state(__func__, __LINE__, msgId, "===== UIM Service UP ! =========")) return;
    if (msgId != kIndDmRadioMode || payload == nullptr || length < sizeof(uint32_t)) return;
    uint32_t mode = 0;
    std::memcpy(&mode, payload, sizeof mode);
    QL_LOG(kQlLogInfo, "Radio mode changed to %d", static_cast<int>(mode));
    if (QlRadioModeHandler handler = g_dmRadioMode.load()) handler(mode);
}

void mcm_dm_async_cb(uint32_t handle, uint32_t msgId, void*, uint32_t, uint32_t token) {
    QL_LOG(kQlLogInfo, "Recv async cb, h_dm=%d  msg_id=0%08X, token_id=%d",
           static_cast<int>(handle), msgId, static_cast<int>(token));
}

}  // namespace

uint32_t mcm_shared_handle() { return g_mcmHandle.load(); }

int QL_MCM_Client_Init(uint32_t* handle, int client_type, McmIndHandler ind_handler,
                       McmAsyncHandler async_handler) {
    if (!valid_type(client_type)) {
        QL_LOG(kQlLogError, "Invalid client_type %d", client_type);
        return kQlBadArgument;
    }
    if (handle == nullptr) {
        QL_LOG(kQlLogError, "Invalid param");
        return kQlBadArgument;
    }
    ClientEntry& entry = ql_mcm_client_table[client_type];
    // Checked before the lock too: an initialised type never waits behind
    // another type's first initialisation.
    if (already_inited(entry, client_type)) return 0;
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (already_inited(entry, client_type)) return 0;
    if (g_mcmHandle.load() == 0) {
        if (int rc = start_client()) return rc;
    }
    const RequiredService* service = required_service(client_type);
    if (service != nullptr) {
        QL_LOG(kQlLogInfo, " mcm_client_init start up required service!");
        if (int rc = ql_mcm_required_service_updown(g_mcmHandle.load(), 1, service->mask)) {
            QL_LOG(kQlLogError, "Failed to requre service %08X, ret=%d", service->mask, rc);
            return rc;
        }
        if (!flag_wait(service->flag)) {
            QL_LOG(kQlLogError, "mcm service %d is not ready", service->mask);
            return kQlNotReady;
        }
    }
    entry.indHandler = ind_handler;
    entry.asyncHandler = async_handler;
    entry.requiredMask = service != nullptr ? service->mask : 0;
    entry.inUse = 1;
    *handle = g_mcmHandle.load();
    QL_LOG(kQlLogTrace, "exit");
    return 0;
}

int QL_MCM_Client_Deinit(uint32_t handle, int client_type) {
    QL_LOG(kQlLogInfo, "deinit mcm client, h_mcm=%d, client_type=%d", static_cast<int>(handle),
           client_type);
    // Negative types would index before the table.
    if (!valid_type(client_type)) {
        QL_LOG(kQlLogError, "Invalid mcm client type %d", client_type);
        return kQlBadArgument;
    }
    std::lock_guard<std::mutex> lock(g_registryMutex);
    ClientEntry& entry = ql_mcm_client_table[client_type];
    if (!entry.inUse.load()) QL_LOG(kQlLogInfo, "mcm client type %d is not valid\n", client_type);
    entry.indHandler = nullptr;
    entry.asyncHandler = nullptr;
    entry.inUse = 0;
    const uint32_t shared = g_mcmHandle.load();
    if (shared == 0) {
        QL_LOG(kQlLogInfo, "mcm client is not valid");
        return 0;
    }
    if (int count = clients_in_use()) {
        QL_LOG(kQlLogWarning, "mcm client is still alive, reference count : %d", count);
        return 0;
    }
    const int ret = mcm_client_release(shared);
    if (ret != 0) QL_LOG(kQlLogError, "mcm_client_release failed with error %d", ret);
    QL_LOG(kQlLogInfo, "mcm client %d is released", static_cast<int>(shared));
    g_mcmHandle = 0;
    return ret;
}

int QL_MCM_SIM_Client_Init(uint32_t* handle) {
    return QL_MCM_Client_Init(handle, kMcmClientSim, sim_ind_cb, sim_async_cb);
}
int QL_MCM_NW_Client_Init(uint32_t* handle) {
    return QL_MCM_Client_Init(handle, kMcmClientNw, nw_ind_cb, nw_async_cb);
}
int QL_MCM_DM_Client_Init(uint32_t* handle) {
    return QL_MCM_Client_Init(handle, kMcmClientDm, mcm_dm_ind_cb, mcm_dm_async_cb);
}
int QL_MCM_SIM_Client_Deinit(uint32_t handle) { return QL_MCM_Client_Deinit(handle, kMcmClientSim); }
int QL_MCM_NW_Client_Deinit(uint32_t handle) { return QL_MCM_Client_Deinit(handle, kMcmClientNw); }
int QL_MCM_DM_Client_Deinit(uint32_t handle) { return QL_MCM_Client_Deinit(handle, kMcmClientDm); }

// For tests (state_reset.h).
void mcm_client_reset() {
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        for (auto& entry : ql_mcm_client_table) {
            entry.indHandler = nullptr;
            entry.asyncHandler = nullptr;
            entry.inUse = 0;
        }
    }
    if (uint32_t shared = g_mcmHandle.load()) QL_MCM_Client_Deinit(shared, 0);
    g_simRx.set(nullptr, nullptr);
    g_nwRx.set(nullptr, nullptr);
    g_dmRadioMode = nullptr;
}

void ql_mcm_ind_cb(uint32_t handle, uint32_t msg_id, void* payload, uint32_t length) {
    QL_LOG(kQlLogInfo, "Recv ind cb, h_mcm=%d, msg_id=%08X", static_cast<int>(handle), msg_id);
    for (const auto& route : kIndicationRoutes) {
        if (msg_id < route.first || msg_id > route.last) continue;
        if (route.type != kNoEntry) deliver_indication(route.type, handle, msg_id, payload, length);
        if (route.alsoAtcop) deliver_indication(kMcmClientAtcop, handle, msg_id, payload, length);
        return;
    }
    QL_LOG(kQlLogInfo, "uhandled MSG : 0x%x", msg_id);
}

void ql_mcm_async_cb(uint32_t handle, uint32_t msg_id, void* payload, uint32_t length,
                     uint32_t token) {
    QL_LOG(kQlLogInfo, "Recv async cb, h_mcm=%d msg_id=0x%x", static_cast<int>(handle), msg_id);
    const uint32_t type = (msg_id >> 8) & 0xFF;
    if (type > static_cast<uint32_t>(kMcmClientTypeMax)) return;
    if (McmAsyncHandler handler = ql_mcm_client_table[type].asyncHandler.load())
        handler(handle, msg_id, payload, length, token);
}

int QL_MCM_SIM_AddRxIndMsgHandler(QlRxHandler handler, void* user_data) {
    if (g_mcmHandle.load() == 0) {
        QL_LOG(kQlLogError, "Error, mcm client is not inited");
        return kQlNotReady;
    }
    g_simRx.set(handler, user_data);
    return ql_mcm_sim_reg_events();
}

int QL_MCM_NW_AddRxMsgHandler(QlRxHandler handler, void* user_data) {
    if (g_mcmHandle.load() == 0) {
        QL_LOG(kQlLogError, "Error, mcm client is not inited");
        return kQlNotReady;
    }
    g_nwRx.set(handler, user_data);
    return 0;
}

void QL_MCM_DM_AddRadioModeHandler(QlRadioModeHandler handler) { g_dmRadioMode = handler; }
