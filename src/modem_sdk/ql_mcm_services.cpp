// The request members of the SIM, NW and DM services: one table row per
// message, one exchange helper, and the payload rules of each member.
#include <mcm_client.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>

#include "modem_sdk/mcm_internal.h"
#include "modem_sdk/mcm_wire.h"
#include "modem_sdk/ql_api_log.h"
#include "modem_sdk/ql_mcm.h"

namespace {

// How a member turns the exchange into its result.
enum class Rule {
    Standard,      // ret_val and resp_code must be 0
    ErrorCode,     // ret_val and error_code must be 0
    Exchange,      // only ret_val: the output then follows the validity flags
    Registration,  // ret_val first, then resp_code, reported through error_code
    Dm,            // ret_val and resp_code must be 0; any failure is -19
};

struct Member {
    McmMessageId id;
    const char* failure;  // "Failed to <failure>, ..."
    Rule rule;
    const char* lineEnd = "";
    bool extended = false;  // sent with the time-out call
};

constexpr uint32_t kExtendedTimeoutMs = 20000;

// The lengths of each message come with its records (mcm_wire.h).
constexpr Member kMembers[] = {
    {kMsgSimGetImsi, "get sim subscriber", Rule::Standard},
    {kMsgSimGetIccid, "get card id", Rule::Standard, "\n"},
    {kMsgSimGetPhoneNumber, "get phone number", Rule::Standard},
    {kMsgSimGetOperatorPlmnList, "get operator plmn list", Rule::Standard},
    {kMsgSimReadFile, "read sim file", Rule::Standard},
    {kMsgSimWriteFile, "write sim file", Rule::Standard},
    {kMsgSimGetFileSize, "get sim file size", Rule::Standard},
    {kMsgSimVerifyPin, "verify pin", Rule::Standard},
    {kMsgSimChangePin, "change pin", Rule::Standard},
    {kMsgSimUnblockPin, "unblock pin", Rule::Standard},
    {kMsgSimEnablePin, "enable pin", Rule::Standard},
    {kMsgSimDisablePin, "disable pin", Rule::Standard},
    {kMsgSimGetCardStatus, "get card status", Rule::ErrorCode},
    {kMsgSimDepersonalization, "depersonalize sim", Rule::Standard},
    {kMsgSimPersonalization, "personalize sim", Rule::Standard},
    {kMsgSimRegEvents, "register sim events", Rule::Standard},
    {kMsgNwSetConfig, "set nw config", Rule::Standard},
    {kMsgNwGetConfig, "get nw config", Rule::Standard},
    {kMsgNwGetRegStatus, "get reg status", Rule::Registration},
    {kMsgNwPerformScan, "perform scan", Rule::Standard, "", true},
    {kMsgNwGetOperatorName, "get operator name", Rule::Standard},
    {kMsgNwSetLowPowerMode, "set low power mode", Rule::Standard},
    {kMsgNwSetSelection, "set selection", Rule::Standard},
    {kMsgNwGetSignalStrength, "get signal strength", Rule::Exchange},
    {kMsgNwGetCellAccessState, "get cell access state", Rule::Standard},
    {kMsgNwGetNitzTimeInfo, "get NITZ time", Rule::Exchange},
    {kMsgNwEventRegister, "register nw events", Rule::Standard},
    {kMsgDmGetAirplaneMode, "get airplane mode", Rule::Standard},
    {kMsgDmGetSerialNumbers, "get device sn", Rule::Dm},
    {kMsgDmGetFirmware, "get device revid", Rule::Dm},
    {kMsgSmsRegEvents, "register sms events", Rule::Standard},
    {kMsgVoiceRegisterIndication, "register voice indication", Rule::Standard},
    {kMsgRequiredService, "require service", Rule::Standard},  // judged by its caller
};

const Member& member_of(McmMessageId id) {
    const Member* found = std::find_if(std::begin(kMembers), std::end(kMembers),
                                       [id](const Member& m) { return m.id == id; });
    return *found;  // every id of McmMessageId has its row
}

// The request's bytes; a message without input sends zero bytes of its length.
struct Input {
    const void* data;
    size_t size;
};
constexpr Input kNoInput{nullptr, 0};
template <typename T>
Input input_of(const T* record) {
    return {record, sizeof(T)};
}

using Bytes = std::unique_ptr<uint8_t[]>;

struct Reply {
    Bytes bytes;
    uint32_t length = 0;
    int retVal = 0;
    McmCodes codes{};

    template <typename Payload>
    Payload payload() const {
        Payload payload{};
        if (length > sizeof(McmCodes))
            std::memcpy(&payload, bytes.get() + sizeof(McmCodes),
                        std::min<size_t>(sizeof payload, length - sizeof(McmCodes)));
        return payload;
    }
};

// One synchronous exchange into a zeroed response of the member's length.
// Nonzero only when no memory could be had.
int exchange(const ApiCall& call, const Member& member, uint32_t handle, Input input,
             Reply& reply) {
    const McmWireLengths& lengths = *mcm_wire(member.id);  // every member's id has its lengths
    Bytes request(new (std::nothrow) uint8_t[lengths.request]());
    reply.bytes.reset(new (std::nothrow) uint8_t[lengths.response]());
    if (!request || !reply.bytes) {
        call.log(kQlLogError, "Failed to malloc");
        return kQlNoMemory;
    }
    if (input.data != nullptr)
        std::memcpy(request.get(), input.data, std::min<size_t>(input.size, lengths.request));
    reply.length = lengths.response;
    reply.retVal = member.extended
                       ? mcm_client_execute_command_sync_ex(handle, member.id, request.get(),
                                                            lengths.request, reply.bytes.get(),
                                                            lengths.response, kExtendedTimeoutMs)
                       : mcm_client_execute_command_sync(handle, member.id, request.get(),
                                                         lengths.request, reply.bytes.get(),
                                                         lengths.response);
    std::memcpy(&reply.codes, reply.bytes.get(), sizeof reply.codes);
    return 0;
}

bool succeeded(Rule rule, const Reply& reply) {
    if (reply.retVal != 0) return false;
    switch (rule) {
        case Rule::Exchange: return true;
        case Rule::ErrorCode: return reply.codes.error_code == 0;
        default: return reply.codes.resp_code == 0;
    }
}

// The member's result for a failed exchange. A failure never comes out as 0:
// when neither ret_val nor error_code carries a code, resp_code does.
int failure_code(Rule rule, const Reply& reply) {
    const int ret = reply.retVal;
    const int error = static_cast<int>(reply.codes.error_code);
    const int resp = static_cast<int>(reply.codes.resp_code);
    switch (rule) {
        case Rule::Dm: return kQlDmFailure;
        case Rule::Exchange: return ret;
        case Rule::Registration: return ret != 0 ? ret : (error != 0 ? error : resp);
        default: return error != 0 ? error : (ret != 0 ? ret : resp);
    }
}

// exchange() and the member's result rule; 0 lets the member read the payload.
int request(const ApiCall& call, McmMessageId id, uint32_t handle, Input input, Reply& reply) {
    const Member& member = member_of(id);
    if (int rc = exchange(call, member, handle, input, reply)) return rc;
    if (succeeded(member.rule, reply)) return 0;
    if (member.rule == Rule::Dm)
        call.log(kQlLogError, "Failed to %s, rc=%d, error=%d", member.failure, reply.retVal,
                 static_cast<int>(reply.codes.error_code));
    else
        call.log(kQlLogError, "Failed to %s, ret_val=%d, resp_code= %d, error_code=%d%s",
                 member.failure, reply.retVal, static_cast<int>(reply.codes.resp_code),
                 static_cast<int>(reply.codes.error_code), member.lineEnd);
    return failure_code(member.rule, reply);
}

// The argument check every member starts with.
bool present(const ApiCall& call, McmMessageId id, std::initializer_list<const void*> arguments) {
    for (const void* argument : arguments) {
        if (argument != nullptr) continue;
        if ((id >> 8) == static_cast<uint32_t>(kMcmClientNw))
            call.log(kQlLogError, "Invalid param, pt_info is null");
        else
            call.log(kQlLogError, "Invalid param");
        return false;
    }
    return true;
}

// A member whose request is its input record and which returns no data.
template <typename Record>
int send_record(const char* function, int line, McmMessageId id, uint32_t handle,
                const Record* record) {
    const ApiCall call(function, line);
    if (!present(call, id, {record})) return call.exit(kQlBadArgument);
    Reply reply;
    return call.exit(request(call, id, handle, input_of(record), reply));
}

// A member without input: the payload decoded into its output record.
template <typename Payload, typename Output, typename Decode>
int fetch(const ApiCall& call, McmMessageId id, uint32_t handle, Output* output, Decode decode) {
    Reply reply;
    if (int rc = request(call, id, handle, kNoInput, reply)) return call.exit(rc);
    decode(reply.payload<Payload>(), *output);
    return call.exit(0);
}

template <typename Payload, typename Output, typename Decode>
int fetch_output(const char* function, int line, McmMessageId id, uint32_t handle,
                 Output* output, Decode decode) {
    const ApiCall call(function, line);
    if (!present(call, id, {output})) return call.exit(kQlBadArgument);
    return fetch<Payload>(call, id, handle, output, decode);
}

// The payload as it came is the output record.
template <typename Output>
int fetch_record(const char* function, int line, McmMessageId id, uint32_t handle,
                 Output* output) {
    return fetch_output<Output>(function, line, id, handle, output,
                                [](const Output& from, Output& to) { to = from; });
}

// The DM members check their handle too, with texts of their own.
template <typename Payload, typename Output, typename Decode>
int fetch_dm(const char* function, int line, McmMessageId id, uint32_t h_dm, Output* output,
             const char* name, char separator, Decode decode) {
    const ApiCall call(function, line);
    if (h_dm == 0 || output == nullptr) {
        call.log(kQlLogError, "Parameter invalid.%ch_dm:%d,  %s:%p", separator,
                 static_cast<int>(h_dm), name, static_cast<const void*>(output));
        return call.exit(-1);
    }
    return fetch<Payload>(call, id, h_dm, output, decode);
}

// A member whose payload carries a validity word in front of the output record.
template <typename Payload, typename Output, typename In>
int fetch_valid(const char* function, int line, McmMessageId id, uint32_t handle, const In* in,
                Output Payload::*item, Output* output, const char* missing) {
    const ApiCall call(function, line);
    if (!present(call, id, {in, output})) return call.exit(kQlBadArgument);
    Reply reply;
    if (int rc = request(call, id, handle, input_of(in), reply)) return call.exit(rc);
    const Payload payload = reply.payload<Payload>();
    if (payload.valid == 0) {
        call.log(kQlLogError, "%s", missing);
        return call.exit(kQlNoItem);
    }
    *output = payload.*item;
    return call.exit(0);
}

// IMSI, ICCID and phone number: validity, length, characters (no terminator added).
template <typename Payload, typename In>
int fetch_text(const char* function, int line, McmMessageId id, uint32_t handle, const In* in,
               char* buffer, size_t length, const char* missing) {
    const ApiCall call(function, line);
    // A zero length counts as a missing buffer.
    if (!present(call, id, {in, length != 0 ? buffer : nullptr})) return call.exit(kQlBadArgument);
    Reply reply;
    if (int rc = request(call, id, handle, input_of(in), reply)) return call.exit(rc);
    const Payload payload = reply.payload<Payload>();
    // A length beyond the item's own characters is as good as no item.
    if (payload.valid == 0 || payload.length > sizeof payload.text) {
        call.log(kQlLogError, "%s", missing);
        return call.exit(kQlNoItem);
    }
    if (payload.length >= length) {
        call.log(kQlLogError, "Error ocurred, Buffer not enough");
        return call.exit(kQlBufferTooSmall);
    }
    std::memcpy(buffer, payload.text, payload.length);
    return call.exit(0);
}

// Copies the groups of a record whose validity flag is set, the flag as 1.
// `starts` are the groups' offsets; each group runs to the next one.
template <typename Record, size_t N>
void copy_valid_groups(const Record& from, Record& to, const size_t (&starts)[N],
                       size_t flagSize) {
    const auto* source = reinterpret_cast<const uint8_t*>(&from);
    auto* target = reinterpret_cast<uint8_t*>(&to);
    for (size_t i = 0; i < N; ++i) {
        const size_t start = starts[i];
        const size_t end = i + 1 < N ? starts[i + 1] : sizeof(Record);
        bool valid = false;
        for (size_t b = 0; b < flagSize; ++b) valid = valid || source[start + b] != 0;
        if (!valid) continue;
        std::memcpy(target + start, source + start, end - start);
        std::memset(target + start, 0, flagSize);
        target[start] = 1;  // little-endian flag words, as on both builds
    }
}

constexpr size_t kSignalGroups[] = {
    offsetof(QlNwSignalStrength, gsm_valid),     offsetof(QlNwSignalStrength, wcdma_valid),
    offsetof(QlNwSignalStrength, tdscdma_valid), offsetof(QlNwSignalStrength, lte_valid),
    offsetof(QlNwSignalStrength, cdma_valid),    offsetof(QlNwSignalStrength, hdr_valid)};
constexpr size_t kRegGroups[] = {offsetof(QlNwRegStatus, voice),   offsetof(QlNwRegStatus, data),
                                 offsetof(QlNwRegStatus, detail1), offsetof(QlNwRegStatus, detail2),
                                 offsetof(QlNwRegStatus, short1),  offsetof(QlNwRegStatus, short2)};
constexpr size_t kSerialGroups[] = {offsetof(QlDmSerialNumbers, imei_valid),
                                    offsetof(QlDmSerialNumbers, meid_valid)};

// Event registrations go out on the shared handle.
int register_events(const char* function, int line, McmMessageId id,
                    std::initializer_list<uint8_t> switches) {
    const ApiCall call(function, line);
    const uint32_t handle = mcm_shared_handle();
    if (handle == 0) {
        call.log(kQlLogError, "mcm client is not inited");
        return call.exit(kQlNotReady);
    }
    uint8_t record[16]{};
    std::copy(switches.begin(), switches.end(), record);
    Reply reply;
    return call.exit(request(call, id, handle, {record, switches.size()}, reply));
}

}  // namespace

#define QL_SITE __func__, __LINE__

int ql_mcm_required_service_updown(uint32_t handle, int require, uint16_t mask) {
    QL_API_CALL(call);
    call.log(kQlLogInfo, "start to %s  service %08X", require ? "require" : "not require", mask);
    if (require == 0) {
        call.log(kQlLogError, "Donot support not requre service");
        return call.exit(kQlNotRequired);
    }
    if (require != 1) return call.exit(kQlNoItem);
    Reply reply;
    if (exchange(call, member_of(kMsgRequiredService), handle, input_of(&mask), reply) != 0)
        return call.exit(kQlBufferTooSmall);
    if (reply.retVal == 0 && reply.codes.resp_code == 0) {
        call.log(kQlLogInfo, "Succeed to require servie %08X", mask);
        return call.exit(0);
    }
    call.log(kQlLogError, "Failed to require service %08X, ret_val=%d, result=%d error_code=%d",
             mask, reply.retVal, static_cast<int>(reply.codes.resp_code),
             static_cast<int>(reply.codes.error_code));
    return call.exit(kQlNotReady);
}

int ql_mcm_sim_reg_events() { return register_events(QL_SITE, kMsgSimRegEvents, {1, 1, 1, 1}); }
int ql_mcm_sms_reg_events() { return register_events(QL_SITE, kMsgSmsRegEvents, {1, 1}); }
int ql_mcm_voice_register_indication() {
    return register_events(QL_SITE, kMsgVoiceRegisterIndication,
                           {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0});
}

// ---- SIM -----------------------------------------------------------------

int QL_MCM_SIM_GetIMSI(uint32_t handle, const QlSimApp* app, char* imsi, size_t length) {
    return fetch_text<McmTextPayload16>(QL_SITE, kMsgSimGetImsi, handle, app, imsi, length,
                                        "Cannot get phone number !");
}

int QL_MCM_SIM_GetICCID(uint32_t handle, uint32_t slot_id, char* iccid, size_t length) {
    return fetch_text<McmTextPayload20>(QL_SITE, kMsgSimGetIccid, handle, &slot_id, iccid, length,
                                        "Cannot get ICCID");
}

int QL_MCM_SIM_GetPhoneNumber(uint32_t handle, const QlSimApp* app, char* number, size_t length) {
    return fetch_text<McmTextPayload84>(QL_SITE, kMsgSimGetPhoneNumber, handle, app, number,
                                        length, "Cannot get phone number !");
}

int QL_MCM_SIM_GetOperatorPlmnList(uint32_t handle, uint32_t slot_id, QlSimPlmnList* list) {
    return fetch_valid(QL_SITE, kMsgSimGetOperatorPlmnList, handle, &slot_id,
                       &McmPlmnListPayload::list, list, "Cannot get plmn list");
}

int QL_MCM_SIM_ReadFile(uint32_t handle, const QlSimFileRequest* request, QlSimFileData* data) {
    return fetch_valid(QL_SITE, kMsgSimReadFile, handle, request, &McmFileDataPayload::data, data,
                       "Cannot read file");
}

int QL_MCM_SIM_WriteFile(uint32_t handle, const QlSimFileWrite* request) {
    return send_record(QL_SITE, kMsgSimWriteFile, handle, request);
}

int QL_MCM_SIM_GetFileSize(uint32_t handle, const QlSimFileSizeRequest* request,
                           QlSimFileSize* size) {
    return fetch_valid(QL_SITE, kMsgSimGetFileSize, handle, request, &McmFileSizePayload::size,
                       size, "Cannot get file size");
}

int QL_MCM_SIM_VerifyPIN(uint32_t handle, const QlSimPin* pin) {
    return send_record(QL_SITE, kMsgSimVerifyPin, handle, pin);
}

int QL_MCM_SIM_ChangePin(uint32_t handle, const QlSimPinChange* change) {
    return send_record(QL_SITE, kMsgSimChangePin, handle, change);
}

int QL_MCM_SIM_UnblockPIN(uint32_t handle, const QlSimPinChange* unblock) {
    return send_record(QL_SITE, kMsgSimUnblockPin, handle, unblock);
}

int QL_MCM_SIM_EnablePIN(uint32_t handle, const QlSimPin* pin) {
    return send_record(QL_SITE, kMsgSimEnablePin, handle, pin);
}

int QL_MCM_SIM_DisablePIN(uint32_t handle, const QlSimPin* pin) {
    return send_record(QL_SITE, kMsgSimDisablePin, handle, pin);
}

int QL_MCM_SIM_GetCardStatus(uint32_t handle, uint32_t slot_id, QlSimCardStatus* status) {
    return fetch_valid(QL_SITE, kMsgSimGetCardStatus, handle, &slot_id,
                       &McmCardStatusPayload::status, status, "Cannot get card info");
}

int QL_MCM_SIM_Depersonalization(uint32_t handle, const QlSimDepersonalization* request) {
    return send_record(QL_SITE, kMsgSimDepersonalization, handle, request);
}

int QL_MCM_SIM_Personalization(uint32_t handle, const QlSimPersonalization* request) {
    return send_record(QL_SITE, kMsgSimPersonalization, handle, request);
}

// ---- NW ------------------------------------------------------------------

int QL_MCM_NW_SetConfig(uint32_t handle, const QlNwConfig* config) {
    return send_record(QL_SITE, kMsgNwSetConfig, handle, config);
}

int QL_MCM_NW_GetConfig(uint32_t handle, QlNwConfig* config) {
    return fetch_record(QL_SITE, kMsgNwGetConfig, handle, config);
}

int QL_MCM_NW_GetRegStatus(uint32_t handle, QlNwRegStatus* pt_info) {
    return fetch_output<QlNwRegStatus>(
        QL_SITE, kMsgNwGetRegStatus, handle, pt_info,
        [](const QlNwRegStatus& from, QlNwRegStatus& to) {
            copy_valid_groups(from, to, kRegGroups, sizeof(uint32_t));
        });
}

int QL_MCM_NW_PerformScan(uint32_t handle, QlNwScanResult* pt_info) {
    return fetch_record(QL_SITE, kMsgNwPerformScan, handle, pt_info);
}

int QL_MCM_NW_GetOperatorName(uint32_t handle, QlNwOperatorName* pt_info) {
    return fetch_record(QL_SITE, kMsgNwGetOperatorName, handle, pt_info);
}

int QL_MCM_NW_SetLowPowerMode(uint32_t handle, uint8_t mode) {
    return send_record(QL_SITE, kMsgNwSetLowPowerMode, handle, &mode);
}

int QL_MCM_NW_SetSelection(uint32_t handle, const QlNwSelection* pt_info) {
    return send_record(QL_SITE, kMsgNwSetSelection, handle, pt_info);
}

int QL_MCM_NW_GetSignalStrength(uint32_t handle, QlNwSignalStrength* pt_info) {
    return fetch_output<McmSignalPayload>(
        QL_SITE, kMsgNwGetSignalStrength, handle, pt_info,
        [](const McmSignalPayload& from, QlNwSignalStrength& to) {
            copy_valid_groups(from.signal, to, kSignalGroups, 1);
        });
}

int QL_MCM_NW_GetCellAccessState(uint32_t handle, QlNwCellAccessState* pt_info) {
    return fetch_record(QL_SITE, kMsgNwGetCellAccessState, handle, pt_info);
}

int QL_MCM_NW_GetNitzTimeInfo(uint32_t handle, QlNwNitzTime* pt_info) {
    return fetch_output<McmNitzPayload>(
        QL_SITE, kMsgNwGetNitzTimeInfo, handle, pt_info,
        [](const McmNitzPayload& from, QlNwNitzTime& to) {
            if (from.nitz_valid) {
                std::memcpy(to.nitz_time, from.nitz_time, sizeof from.nitz_time);
                to.nitz_time[sizeof from.nitz_time] = '\0';
            }
            if (from.abs_time_valid) to.abs_time = from.abs_time;
            if (from.leap_sec_valid) to.leap_sec = from.leap_sec;
        });
}

int QL_MCM_NW_EventRegister(uint32_t handle, const QlNwEventSwitches* pt_info) {
    return send_record(QL_SITE, kMsgNwEventRegister, handle, pt_info);
}

// ---- DM ------------------------------------------------------------------

int QL_MCM_DM_GetAirplaneMode(uint32_t h_dm, uint32_t* mode) {
    return fetch_output<McmAirplaneModePayload>(
        QL_SITE, kMsgDmGetAirplaneMode, h_dm, mode,
        [](const McmAirplaneModePayload& from, uint32_t& to) { to = from.valid ? from.mode : 3; });
}

int QL_MCM_DM_GetSerialNumbers(uint32_t h_dm, QlDmSerialNumbers* serial_numbers) {
    return fetch_dm<QlDmSerialNumbers>(
        QL_SITE, kMsgDmGetSerialNumbers, h_dm, serial_numbers, "serial_numbers", '\t',
        [](const QlDmSerialNumbers& from, QlDmSerialNumbers& to) {
            copy_valid_groups(from, to, kSerialGroups, 1);
        });
}

int QL_MCM_DM_GetFirmware(uint32_t h_dm, QlDmFirmware* hardware_rev) {
    return fetch_dm<McmFirmwarePayload>(
        QL_SITE, kMsgDmGetFirmware, h_dm, hardware_rev, "hardware_rev", ' ',
        [](const McmFirmwarePayload& from, QlDmFirmware& to) {
            std::memcpy(to.revision, from.revision, sizeof to.revision);
        });
}
