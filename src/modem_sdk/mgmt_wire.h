#pragma once
#include <cstddef>
#include <cstdint>

#include "modem_sdk/ql_mgmt.h"

// The 416-byte records exchanged with the management server, and its
// data-call event. The host stand-in reads and writes the same records.

enum MgmtMessageId : uint32_t {
    kMgmtDataCallStart = 0x60001,  // also the id of the data-call state event
    kMgmtDataCallStop = 0x60002,
    kMgmtDataCallInfo = 0x60003,
    kMgmtApnProfile = 0x60004,
    kMgmtApnList = 0x60005,
    kMgmtApnDelete = 0x60006,
    kMgmtApnAdd = 0x60007,
    kMgmtDefaultProfile = 0x60008,
};

constexpr uint32_t kMgmtRecordSize = 416;

struct MgmtDataCallRecord {
    uint8_t profile_index;
    uint32_t ip_family;
    uint8_t option;
    uint8_t reserved[151];
    char user_name[128];
    char password[128];
};

// Information response; its first 200 bytes are a QlDataCallInfo.
struct MgmtInfoRecord {
    QlDataCallInfo info;
    uint8_t reserved[216];
};

struct MgmtApnRecord {
    uint8_t index_is_zero;
    uint8_t profile_index;  // the new index in the answer to kMgmtApnAdd
    uint8_t pdp_code;
    uint8_t auth_code;
    char apn_name[151];
    char user_name[128];
    char password[128];
    uint8_t reserved[5];
};

struct MgmtDefaultProfileRecord {
    uint8_t profile_index;
    uint8_t reserved1[7];
    uint8_t mode;  // 2 when setting
    uint8_t reserved2[407];
};

struct MgmtApnListRecord {
    uint8_t reserved;
    uint8_t count;
    uint8_t indices[414];
};

constexpr uint32_t kMgmtEventLength = 96;

struct MgmtDataCallEvent {
    uint8_t profile_index;
    char profile_name[19];
    uint32_t has_second_block;
    uint32_t state;  // 1 connected
    uint32_t reason;
    uint32_t first_block[4];
    uint32_t second_block[12];
};

static_assert(sizeof(MgmtDataCallRecord) == kMgmtRecordSize &&
                  offsetof(MgmtDataCallRecord, ip_family) == 4 &&
                  offsetof(MgmtDataCallRecord, option) == 8 &&
                  offsetof(MgmtDataCallRecord, user_name) == 160 &&
                  offsetof(MgmtDataCallRecord, password) == 288,
              "data-call request");
static_assert(sizeof(QlDataCallInfo) == 200 && offsetof(QlDataCallInfo, profile_name) == 8 &&
                  offsetof(QlDataCallInfo, state) == 24,
              "data-call information");
static_assert(sizeof(MgmtInfoRecord) == kMgmtRecordSize, "information response");
static_assert(sizeof(MgmtApnRecord) == kMgmtRecordSize && offsetof(MgmtApnRecord, apn_name) == 4 &&
                  offsetof(MgmtApnRecord, user_name) == 155 &&
                  offsetof(MgmtApnRecord, password) == 283,
              "APN request");
static_assert(sizeof(MgmtDefaultProfileRecord) == kMgmtRecordSize, "default profile request");
static_assert(sizeof(MgmtApnListRecord) == kMgmtRecordSize, "APN list response");
static_assert(sizeof(MgmtDataCallEvent) == kMgmtEventLength &&
                  offsetof(MgmtDataCallEvent, has_second_block) == 20 &&
                  offsetof(MgmtDataCallEvent, first_block) == 32 &&
                  offsetof(MgmtDataCallEvent, second_block) == 48,
              "data-call event");
static_assert(sizeof(QlDataCallEvent) == 96 && offsetof(QlDataCallEvent, state) == 24 &&
                  offsetof(QlDataCallEvent, first_block) == 32,
              "event record");
static_assert(sizeof(QlApnProfile) == 416 && sizeof(QlApnSettings) == 412 &&
                  sizeof(QlApnList) == 3332,
              "APN records");
