#pragma once
#include <cstddef>
#include <cstdint>

// The wrapper layer over the vendor's MCM client: one shared client handle,
// a registry of client types that counts who holds it, and one function per
// request message of the SIM, NW and DM services. Results keep the vendor's
// codes: 0 success, the layer's own codes below, anything else passed
// through from the library.

constexpr int kQlNoItem = 3;         // the response lacked the item
constexpr int kQlBadArgument = 4;    // bad argument or client type
constexpr int kQlBufferTooSmall = 5; // caller's buffer too small
constexpr int kQlNoMemory = 8;       // heap exhausted
constexpr int kQlNotReady = 9;       // no client, required service failed, or readiness time-out
constexpr int kQlNotRequired = -18;  // "not require" asked of the service request
constexpr int kQlDmFailure = -19;    // a DM request failed

// Client types: the high byte of their service's message ids.
constexpr int kMcmClientData = 1;
constexpr int kMcmClientDm = 2;
constexpr int kMcmClientLocation = 3;
constexpr int kMcmClientMobileAp = 4;
constexpr int kMcmClientNw = 5;
constexpr int kMcmClientAtcop = 6;
constexpr int kMcmClientSms = 7;
constexpr int kMcmClientSim = 11;
constexpr int kMcmClientVoice = 16;
constexpr int kMcmClientTypeMax = 16;

// The modem's first slot and its application: the board switches cards behind it.
constexpr uint32_t kQlSimSlot1 = 0x0B01;
constexpr uint32_t kQlSimApp3gpp = 0x0B01;
constexpr uint32_t kQlSimPin1 = 0x0B01;
constexpr uint32_t kQlSimCardReady = 0x0B03;
constexpr uint32_t kQlSimAppPinRequired = 0x0B02;

using McmIndHandler = void (*)(uint32_t handle, uint32_t msg_id, void* payload, uint32_t length);
using McmAsyncHandler = void (*)(uint32_t handle, uint32_t msg_id, void* payload, uint32_t length,
                                 uint32_t token);
// Registered by the daemon's users of the SIM and NW services (it registers none).
using QlRxHandler = void (*)(uint32_t handle, uint32_t msg_id, void* payload, uint32_t length,
                             void* user_data);
using QlRadioModeHandler = void (*)(uint32_t mode);

// ---- Records -------------------------------------------------------------

struct QlSimApp {
    uint32_t slot_id;
    uint32_t app_type;
};

struct QlSimAppInfo {
    uint32_t app_type;
    uint32_t app_state;  // kQlSimAppPinRequired: the PIN is to be verified
    uint8_t details[88];
};

struct QlSimCardStatus {
    uint32_t card_state;  // kQlSimCardReady when usable
    uint32_t card_type;
    QlSimAppInfo app;
};

struct QlSimPin {
    uint32_t slot_id;
    uint32_t app_type;
    uint32_t pin_id;
    uint32_t pin_length;
    char pin[8];
};

struct QlSimPinChange {
    uint32_t slot_id;
    uint32_t app_type;
    uint32_t pin_id;
    uint32_t old_length;  // the unblocking code's length for QL_MCM_SIM_UnblockPIN
    char old_pin[8];
    uint32_t new_length;
    char new_pin[8];
};

struct QlSimPlmnList {
    uint32_t count;
    uint8_t entries[24][12];
};

struct QlSimFileRequest {
    QlSimApp app;
    uint32_t offset;
    uint32_t record;
    uint32_t path_length;
    char path[16];
};

struct QlSimFileData {
    uint32_t length;
    uint8_t data[4096];
};

struct QlSimFileWrite {
    QlSimFileRequest file;
    uint32_t length;
    uint8_t data[4096];
};

struct QlSimFileSizeRequest {
    QlSimApp app;
    uint32_t path_length;
    char path[20];
};

struct QlSimFileSize {
    uint32_t file_size;
    uint32_t record_size;
    uint32_t record_count;
};

struct QlSimDepersonalization {
    uint32_t feature;
    uint32_t operation;
    uint32_t key_length;
    char key[16];
};

struct QlSimPersonalization {
    uint8_t data[7292];
};

// One validity byte per radio technology, each followed by its values; the
// level of each is its first signed value (for LTE, rsrp).
struct QlNwSignalStrength {
    uint8_t gsm_valid;
    int8_t gsm_rssi;
    uint8_t wcdma_valid;
    int8_t wcdma_rssi;
    int16_t wcdma_ecio;
    uint8_t tdscdma_valid;
    int8_t tdscdma_rssi;
    int8_t tdscdma_rscp;
    int16_t tdscdma_ecio;
    int16_t tdscdma_sinr;
    uint8_t lte_valid;
    int8_t lte_rssi;
    int8_t lte_rsrq;
    int16_t lte_rsrp;
    int16_t lte_snr;
    uint8_t cdma_valid;
    int8_t cdma_rssi;
    int16_t cdma_ecio;
    uint8_t hdr_valid;
    int8_t hdr_rssi;
    int16_t hdr_ecio;
    int16_t hdr_sinr;
    int32_t hdr_io;
};

struct QlNwRegGroup {
    uint32_t valid;
    uint32_t tech_domain;
    uint32_t radio_tech;
    uint32_t roaming;
    uint32_t reg_state;
    uint32_t deny_reason;
};

struct QlNwRegDetail {
    uint32_t valid;
    uint32_t tech_domain;
    uint32_t radio_tech;
    char mcc[4];
    char mnc[4];
    uint32_t roaming;
    uint32_t forbidden;
    uint32_t cell_id;
    uint32_t lac;
    uint32_t tac;
};

struct QlNwRegShortDetail {
    uint32_t valid;
    uint32_t tech_domain;
    uint32_t radio_tech;
    char mcc[4];
    char mnc[4];
    uint32_t roaming;
    uint32_t forbidden;
    uint32_t system_id;
    uint32_t network_id;
};

// Six groups; detail block 2 and short detail block 2 describe the data registration.
struct QlNwRegStatus {
    QlNwRegGroup voice;
    QlNwRegGroup data;
    QlNwRegDetail detail1;
    QlNwRegDetail detail2;
    QlNwRegShortDetail short1;
    QlNwRegShortDetail short2;
};

// Characters 17 to 19 of the time text: the UTC offset in quarter hours ("+04").
struct QlNwNitzTime {
    char nitz_time[31];
    uint64_t abs_time;
    int8_t leap_sec;
};

struct QlNwConfig {
    uint32_t preferred_modes;
    uint32_t roaming;
    uint8_t reserved[16];
};

struct QlNwSelection {
    uint32_t mode;
    char mcc[4];
    char mnc[4];
    uint32_t radio_tech;
};

struct QlNwScanResult {
    uint8_t data[41768];
};

struct QlNwOperatorName {
    char long_name[512];
    char short_name[512];
    char mcc[4];
    char mnc[4];
    uint8_t reserved[4];
};

struct QlNwCellAccessState {
    uint32_t valid;
    uint32_t state;
};

struct QlNwEventSwitches {
    uint8_t on[10];
};

struct QlDmSerialNumbers {
    uint8_t imei_valid;
    char imei[33];
    uint8_t meid_valid;
    char meid[33];
};

struct QlDmFirmware {
    char revision[257];
};

// ---- Registry ------------------------------------------------------------

int QL_MCM_Client_Init(uint32_t* handle, int client_type, McmIndHandler ind_handler,
                       McmAsyncHandler async_handler);
int QL_MCM_Client_Deinit(uint32_t handle, int client_type);
int QL_MCM_SIM_Client_Init(uint32_t* handle);
int QL_MCM_NW_Client_Init(uint32_t* handle);
int QL_MCM_DM_Client_Init(uint32_t* handle);
int QL_MCM_SIM_Client_Deinit(uint32_t handle);
int QL_MCM_NW_Client_Deinit(uint32_t handle);
int QL_MCM_DM_Client_Deinit(uint32_t handle);
int ql_mcm_required_service_updown(uint32_t handle, int require, uint16_t mask);

// The callbacks given to the library (its thread calls them).
void ql_mcm_ind_cb(uint32_t handle, uint32_t msg_id, void* payload, uint32_t length);
void ql_mcm_async_cb(uint32_t handle, uint32_t msg_id, void* payload, uint32_t length,
                     uint32_t token);

// Event registration on the shared handle.
int ql_mcm_sim_reg_events();
int ql_mcm_sms_reg_events();
int ql_mcm_voice_register_indication();
int QL_MCM_SIM_AddRxIndMsgHandler(QlRxHandler handler, void* user_data);
int QL_MCM_NW_AddRxMsgHandler(QlRxHandler handler, void* user_data);
void QL_MCM_DM_AddRadioModeHandler(QlRadioModeHandler handler);

// ---- Requests ------------------------------------------------------------

// Characters are copied without a terminator: callers pass zeroed buffers.
int QL_MCM_SIM_GetIMSI(uint32_t handle, const QlSimApp* app, char* imsi, size_t length);
int QL_MCM_SIM_GetICCID(uint32_t handle, uint32_t slot_id, char* iccid, size_t length);
int QL_MCM_SIM_GetPhoneNumber(uint32_t handle, const QlSimApp* app, char* number, size_t length);
int QL_MCM_SIM_GetOperatorPlmnList(uint32_t handle, uint32_t slot_id, QlSimPlmnList* list);
int QL_MCM_SIM_ReadFile(uint32_t handle, const QlSimFileRequest* request, QlSimFileData* data);
int QL_MCM_SIM_WriteFile(uint32_t handle, const QlSimFileWrite* request);
int QL_MCM_SIM_GetFileSize(uint32_t handle, const QlSimFileSizeRequest* request,
                           QlSimFileSize* size);
int QL_MCM_SIM_VerifyPIN(uint32_t handle, const QlSimPin* pin);
int QL_MCM_SIM_ChangePin(uint32_t handle, const QlSimPinChange* change);
int QL_MCM_SIM_UnblockPIN(uint32_t handle, const QlSimPinChange* unblock);
int QL_MCM_SIM_EnablePIN(uint32_t handle, const QlSimPin* pin);
int QL_MCM_SIM_DisablePIN(uint32_t handle, const QlSimPin* pin);
int QL_MCM_SIM_GetCardStatus(uint32_t handle, uint32_t slot_id, QlSimCardStatus* status);
int QL_MCM_SIM_Depersonalization(uint32_t handle, const QlSimDepersonalization* request);
int QL_MCM_SIM_Personalization(uint32_t handle, const QlSimPersonalization* request);

int QL_MCM_NW_SetConfig(uint32_t handle, const QlNwConfig* config);
int QL_MCM_NW_GetConfig(uint32_t handle, QlNwConfig* config);
int QL_MCM_NW_GetRegStatus(uint32_t handle, QlNwRegStatus* pt_info);
int QL_MCM_NW_PerformScan(uint32_t handle, QlNwScanResult* pt_info);
int QL_MCM_NW_GetOperatorName(uint32_t handle, QlNwOperatorName* pt_info);
int QL_MCM_NW_SetLowPowerMode(uint32_t handle, uint8_t mode);
int QL_MCM_NW_SetSelection(uint32_t handle, const QlNwSelection* pt_info);
int QL_MCM_NW_GetSignalStrength(uint32_t handle, QlNwSignalStrength* pt_info);
int QL_MCM_NW_GetCellAccessState(uint32_t handle, QlNwCellAccessState* pt_info);
int QL_MCM_NW_GetNitzTimeInfo(uint32_t handle, QlNwNitzTime* pt_info);
int QL_MCM_NW_EventRegister(uint32_t handle, const QlNwEventSwitches* pt_info);

// Radio mode 3 when the modem does not say.
int QL_MCM_DM_GetAirplaneMode(uint32_t h_dm, uint32_t* mode);
int QL_MCM_DM_GetSerialNumbers(uint32_t h_dm, QlDmSerialNumbers* serial_numbers);
int QL_MCM_DM_GetFirmware(uint32_t h_dm, QlDmFirmware* hardware_rev);
