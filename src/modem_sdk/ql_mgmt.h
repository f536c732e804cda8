#pragma once
#include <cstdint>

// The wrapper layer over the vendor's management client: data calls on APN
// profiles and the profiles themselves. Operations return 0 on success and
// -1 on failure unless noted.

constexpr int kApnProfileMax = 24;

// The caller's request to start a call.
struct QlDataCallStart {
    uint8_t profile_index;
    uint8_t option;
    uint32_t ip_family;  // 0 not given, 1 or 2
    char user_name[128];
    char password[128];
};

// The first 200 bytes of the server's data-call information.
struct QlDataCallInfo {
    uint8_t profile_index;
    uint32_t ip_family;
    char profile_name[16];
    uint32_t state;  // 1 connected
    uint8_t addresses_and_counters[172];
};

// What the data-call event callback receives.
struct QlDataCallEvent {
    uint8_t profile_index;
    char profile_name[16];      // only when connected
    uint32_t has_second_block;  // 1 when second_block is filled
    uint32_t state;             // 1 connected, else 0
    uint32_t reason;
    uint8_t first_block[16];    // only when connected
    uint8_t second_block[48];   // only when connected and has_second_block
};

struct QlApnSettings {
    uint32_t pdp_type;    // 0..3
    uint32_t auto_proto;  // 0..4
    char apn_name[150];
    char user_name[127];
    char password[127];
};

struct QlApnProfile {
    uint8_t profile_index;  // 0..24
    QlApnSettings settings;
};

struct QlApnList {
    uint32_t count;
    QlApnProfile profiles[8];
};

struct QlDefaultProfile {
    uint8_t profile_index;
};

using QlDataCallEventCallback = void (*)(const QlDataCallEvent* event);
using QlMgmtEventCallback = void (*)(uint32_t event_id, void* data, uint32_t length);

int QL_Data_Call_Start(const QlDataCallStart* start, int* error);
int QL_Data_Call_Stop(uint8_t profile_index, uint32_t ip_family);
// `error` is part of the interface and never written.
int QL_Data_Call_Info_Get(uint8_t profile_index, uint32_t ip_family, QlDataCallInfo* info,
                          int* error);
int QL_Data_Call_Set_Default_Profile(const QlDefaultProfile* profile);
int QL_Data_Call_Get_Default_Profile(uint8_t* profile_index);
// 0 once the management server has written "success" into its lock file.
int QL_Data_Call_Init_Precondition();
// Lists the data-call event handler and keeps the first callback; always 0.
int QL_Data_Call_Init(QlDataCallEventCallback callback);

int QL_APN_Set(const QlApnProfile* apn);
int QL_APN_Get(uint8_t profile_index, QlApnProfile* apn);
int QL_APN_Add(const QlApnSettings* apn, uint8_t* profile_index);
int QL_APN_Del(uint8_t profile_index);
// The number of profiles read, or -1 when one of them could not be read.
int QL_APN_Get_Lists(QlApnList* list);

// One exchange with the server, opening the handle first when needed:
// 2 when it cannot be opened, otherwise the library's result.
int mgmt_set(uint32_t msg_id, void* record, uint32_t length);
int mgmt_get(uint32_t msg_id, void* record, uint32_t length);
void mgmt_close();

// The server's events go to every listed callback, newest first.
void mgmt_event_cb_add(QlMgmtEventCallback callback);
void mgmt_event_cb_remove(QlMgmtEventCallback callback);
