#pragma once
#include <cstdint>

#include "ql_mcm.h"

// What travels between the wrappers and the MCM library: message ids and the
// response records (two code words, then the payload). The host stand-ins
// answer with the same records.

enum McmMessageId : uint32_t {
    kMsgSimGetImsi = 0x0B00,
    kMsgSimGetIccid = 0x0B01,
    kMsgSimGetPhoneNumber = 0x0B02,
    kMsgSimGetOperatorPlmnList = 0x0B03,
    kMsgSimReadFile = 0x0B04,
    kMsgSimWriteFile = 0x0B05,
    kMsgSimGetFileSize = 0x0B06,
    kMsgSimVerifyPin = 0x0B07,
    kMsgSimChangePin = 0x0B08,
    kMsgSimUnblockPin = 0x0B09,
    kMsgSimEnablePin = 0x0B0A,
    kMsgSimDisablePin = 0x0B0B,
    kMsgSimGetCardStatus = 0x0B0C,
    kMsgSimDepersonalization = 0x0B0D,
    kMsgSimPersonalization = 0x0B0E,
    kMsgSimRegEvents = 0x0B0F,
    kMsgNwSetConfig = 0x0500,
    kMsgNwGetConfig = 0x0501,
    kMsgNwGetRegStatus = 0x0502,
    kMsgNwPerformScan = 0x0503,
    kMsgNwGetOperatorName = 0x0504,
    kMsgNwSetLowPowerMode = 0x0505,
    kMsgNwSetSelection = 0x0506,
    kMsgNwGetSignalStrength = 0x0507,
    kMsgNwGetCellAccessState = 0x0508,
    kMsgNwGetNitzTimeInfo = 0x0509,
    kMsgNwEventRegister = 0x050A,
    kMsgDmGetAirplaneMode = 0x0201,
    kMsgDmGetSerialNumbers = 0x02A0,
    kMsgDmGetFirmware = 0x02A1,
    kMsgSmsRegEvents = 0x0706,
    kMsgVoiceRegisterIndication = 0x100B,
    kMsgRequiredService = 0x0800,
};

// Indications the wrappers route (the library sends them unasked).
constexpr uint32_t kIndSimCardStatus = 0x0B10;
constexpr uint32_t kIndDmRadioMode = 0x0204;

struct McmCodes {
    uint32_t resp_code;
    uint32_t error_code;
};

template <typename Payload>
struct McmResponse {
    McmCodes codes;
    Payload payload;
};

struct McmTextPayload16 {
    uint32_t valid;
    uint32_t length;
    char text[16];
};

struct McmTextPayload20 {
    uint32_t valid;
    uint32_t length;
    char text[20];
};

struct McmTextPayload84 {
    uint32_t valid;
    uint32_t length;
    char text[84];
};

struct McmCardStatusPayload {
    uint32_t valid;
    QlSimCardStatus status;
};

struct McmPlmnListPayload {
    uint32_t valid;
    QlSimPlmnList list;
};

struct McmFileDataPayload {
    uint32_t valid;
    QlSimFileData data;
};

struct McmFileSizePayload {
    uint32_t valid;
    QlSimFileSize size;
};

struct McmPinPayload {
    uint32_t retries_left;
};

struct McmSignalPayload {
    QlNwSignalStrength signal;
    uint8_t reserved[8];
};

struct McmNitzPayload {
    uint8_t nitz_valid;
    char nitz_time[30];
    uint8_t abs_time_valid;
    uint64_t abs_time;
    uint8_t leap_sec_valid;
    int8_t leap_sec;
    uint8_t reserved[14];
};

struct McmAirplaneModePayload {
    uint32_t valid;
    uint32_t mode;
};

struct McmFirmwarePayload {
    char revision[260];
};

// The SIM card status indication.
struct McmCardStatusIndication {
    uint32_t slot_id;
    uint32_t card_state;
};

static_assert(sizeof(McmResponse<McmTextPayload16>) == 32, "IMSI response");
static_assert(sizeof(McmResponse<McmTextPayload20>) == 36, "ICCID response");
static_assert(sizeof(McmResponse<McmTextPayload84>) == 100, "phone number response");
static_assert(sizeof(McmResponse<McmCardStatusPayload>) == 116, "card status response");
static_assert(sizeof(McmResponse<McmPlmnListPayload>) == 304, "PLMN list response");
static_assert(sizeof(McmResponse<McmFileDataPayload>) == 4112, "file read response");
static_assert(sizeof(McmResponse<McmFileSizePayload>) == 24, "file size response");
static_assert(sizeof(McmResponse<McmPinPayload>) == 12, "PIN response");
static_assert(sizeof(McmResponse<McmSignalPayload>) == 52, "signal response");
static_assert(sizeof(McmResponse<QlNwRegStatus>) == 208, "registration response");
static_assert(sizeof(McmResponse<McmNitzPayload>) == 64, "NITZ response");
static_assert(sizeof(McmResponse<QlNwConfig>) == 32, "NW configuration response");
static_assert(sizeof(McmResponse<QlNwScanResult>) == 41776, "scan response");
static_assert(sizeof(McmResponse<QlNwOperatorName>) == 1044, "operator name response");
static_assert(sizeof(McmResponse<QlNwCellAccessState>) == 16, "cell access response");
static_assert(sizeof(McmResponse<McmAirplaneModePayload>) == 16, "radio mode response");
static_assert(sizeof(McmResponse<QlDmSerialNumbers>) == 76, "serial numbers response");
static_assert(sizeof(McmResponse<McmFirmwarePayload>) == 268, "firmware response");
static_assert(sizeof(QlSimPin) == 24 && sizeof(QlSimPinChange) == 36, "PIN requests");
static_assert(sizeof(QlSimFileRequest) == 36 && sizeof(QlSimFileWrite) == 4136, "file requests");
static_assert(sizeof(QlSimFileSizeRequest) == 32, "file size request");
static_assert(sizeof(QlSimDepersonalization) == 28 && sizeof(QlSimPersonalization) == 7292,
              "personalisation requests");
static_assert(sizeof(QlNwConfig) == 24 && sizeof(QlNwSelection) == 16, "NW requests");
static_assert(sizeof(QlNwEventSwitches) == 10, "NW event switches");
