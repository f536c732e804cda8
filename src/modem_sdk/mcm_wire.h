#pragma once
#include <cstddef>
#include <cstdint>

#include "modem_sdk/ql_mcm.h"

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

// Requests that carry no record of the caller's.
struct McmNoInput {
    uint8_t zero;  // messages without input send one zero byte
};
struct McmSlotRequest {
    uint32_t slot_id;
};
struct McmServiceMask {
    uint16_t mask;
};
template <size_t N>
struct McmEventSwitches {
    uint8_t on[N];
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

// Every message's request and response length, each taken from its record.
struct McmWireLengths {
    McmMessageId id;
    uint32_t request;
    uint32_t response;
};

template <typename Request, typename Payload>
constexpr McmWireLengths wire(McmMessageId id) {
    return {id, sizeof(Request), sizeof(McmResponse<Payload>)};
}

constexpr McmWireLengths kMcmWire[] = {
    wire<QlSimApp, McmTextPayload16>(kMsgSimGetImsi),
    wire<McmSlotRequest, McmTextPayload20>(kMsgSimGetIccid),
    wire<QlSimApp, McmTextPayload84>(kMsgSimGetPhoneNumber),
    wire<McmSlotRequest, McmPlmnListPayload>(kMsgSimGetOperatorPlmnList),
    wire<QlSimFileRequest, McmFileDataPayload>(kMsgSimReadFile),
    wire<QlSimFileWrite, McmPinPayload>(kMsgSimWriteFile),
    wire<QlSimFileSizeRequest, McmFileSizePayload>(kMsgSimGetFileSize),
    wire<QlSimPin, McmPinPayload>(kMsgSimVerifyPin),
    wire<QlSimPinChange, McmPinPayload>(kMsgSimChangePin),
    wire<QlSimPinChange, McmPinPayload>(kMsgSimUnblockPin),
    wire<QlSimPin, McmPinPayload>(kMsgSimEnablePin),
    wire<QlSimPin, McmPinPayload>(kMsgSimDisablePin),
    wire<McmSlotRequest, McmCardStatusPayload>(kMsgSimGetCardStatus),
    wire<QlSimDepersonalization, McmPinPayload>(kMsgSimDepersonalization),
    wire<QlSimPersonalization, McmPinPayload>(kMsgSimPersonalization),
    {kMsgSimRegEvents, sizeof(McmEventSwitches<4>), sizeof(McmCodes)},
    {kMsgNwSetConfig, sizeof(QlNwConfig), sizeof(McmCodes)},
    wire<McmNoInput, QlNwConfig>(kMsgNwGetConfig),
    wire<McmNoInput, QlNwRegStatus>(kMsgNwGetRegStatus),
    wire<McmNoInput, QlNwScanResult>(kMsgNwPerformScan),
    wire<McmNoInput, QlNwOperatorName>(kMsgNwGetOperatorName),
    {kMsgNwSetLowPowerMode, sizeof(uint8_t), sizeof(McmCodes)},
    {kMsgNwSetSelection, sizeof(QlNwSelection), sizeof(McmCodes)},
    wire<McmNoInput, McmSignalPayload>(kMsgNwGetSignalStrength),
    wire<McmNoInput, QlNwCellAccessState>(kMsgNwGetCellAccessState),
    wire<McmNoInput, McmNitzPayload>(kMsgNwGetNitzTimeInfo),
    {kMsgNwEventRegister, sizeof(QlNwEventSwitches), sizeof(McmCodes)},
    wire<McmNoInput, McmAirplaneModePayload>(kMsgDmGetAirplaneMode),
    wire<McmNoInput, QlDmSerialNumbers>(kMsgDmGetSerialNumbers),
    wire<McmNoInput, McmFirmwarePayload>(kMsgDmGetFirmware),
    {kMsgSmsRegEvents, sizeof(McmEventSwitches<2>), sizeof(McmCodes)},
    {kMsgVoiceRegisterIndication, sizeof(McmEventSwitches<14>), sizeof(McmCodes)},
    {kMsgRequiredService, sizeof(McmServiceMask), sizeof(McmCodes)},
};

// The lengths of a message, or null for an id outside the family.
constexpr const McmWireLengths* mcm_wire(uint32_t id) {
    for (const McmWireLengths& lengths : kMcmWire)
        if (lengths.id == id) return &lengths;
    return nullptr;
}

static_assert(sizeof(QlSimApp) == 8 && sizeof(McmSlotRequest) == 4 && sizeof(McmNoInput) == 1 &&
                  sizeof(McmServiceMask) == 2,
              "small requests");

// Where the daemon reads its items; the stand-ins fill them by name, so only
// these asserts keep the two sides on the library's layout.
static_assert(offsetof(McmTextPayload16, valid) == 0 && offsetof(McmTextPayload16, length) == 4 &&
                  offsetof(McmTextPayload16, text) == 8 &&
                  offsetof(McmTextPayload20, length) == 4 && offsetof(McmTextPayload20, text) == 8,
              "IMSI and ICCID payloads: validity, length, characters");
static_assert(offsetof(McmResponse<McmTextPayload16>, payload) == 8, "two code words first");
static_assert(offsetof(McmCardStatusPayload, status) == 4 &&
                  offsetof(QlSimCardStatus, card_type) == 4 &&
                  offsetof(QlSimCardStatus, app) + offsetof(QlSimAppInfo, app_state) == 12,
              "card state, second word, application state");
static_assert(offsetof(QlSimPin, pin_id) == 8 && offsetof(QlSimPin, pin_length) == 12 &&
                  offsetof(QlSimPin, pin) == 16,
              "PIN request");
static_assert(offsetof(QlNwSignalStrength, gsm_rssi) == 1 &&
                  offsetof(QlNwSignalStrength, wcdma_rssi) == 3 &&
                  offsetof(QlNwSignalStrength, tdscdma_rssi) == 7 &&
                  offsetof(QlNwSignalStrength, lte_rsrp) == 18 &&
                  offsetof(QlNwSignalStrength, cdma_rssi) == 23 &&
                  offsetof(QlNwSignalStrength, hdr_rssi) == 27,
              "signal levels");
static_assert(offsetof(QlNwRegStatus, detail2) == 88 && offsetof(QlNwRegStatus, short2) == 164 &&
                  offsetof(QlNwRegDetail, radio_tech) == 8 && offsetof(QlNwRegDetail, mcc) == 12 &&
                  offsetof(QlNwRegDetail, mnc) == 16 && offsetof(QlNwRegDetail, cell_id) == 28 &&
                  offsetof(QlNwRegDetail, lac) == 32 && offsetof(QlNwRegDetail, tac) == 36 &&
                  offsetof(QlNwRegShortDetail, mcc) == 12 && offsetof(QlNwRegShortDetail, mnc) == 16,
              "registration words");
static_assert(offsetof(McmNitzPayload, nitz_time) == 1 && offsetof(QlNwNitzTime, nitz_time) == 0,
              "NITZ text");
static_assert(offsetof(QlDmSerialNumbers, imei) == 1 && offsetof(QlDmSerialNumbers, meid_valid) == 34,
              "serial numbers");
