// Host stand-in of the vendor's MCM client library: answers the SIM, NW and
// DM requests from the simulated modem and reports SIM card changes from a
// thread of its own, as the vendor's library does.
#include <mcm_client.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "modem_sdk/mcm_wire.h"
#include "platform/sim_modem.h"

namespace {

constexpr int kTransportFailure = 1;
// Error codes of the simulated modem's services.
constexpr uint32_t kErrorNoSim = 48;
constexpr uint32_t kErrorPinRequired = 35;
constexpr uint32_t kErrorIncorrectPin = 12;

constexpr uint32_t kCardAbsent = 0x0B02;
constexpr uint32_t kCardError = 0x0B04;
constexpr uint32_t kAppReady = 0x0B07;

std::mutex g_mutex;
uint32_t g_handle = 0;
uint32_t g_nextHandle = 0x3001;
// Never destroyed: a client still open when the process exits must not end it
// through a joinable thread's destructor.
std::thread* g_thread = nullptr;
std::atomic<bool> g_stop{false};

uint32_t card_state(const sim_modem::SeenCard& seen) {
    if (seen.card.state == "ready") return kQlSimCardReady;
    if (seen.card.state == "error") return kCardError;
    return kCardAbsent;
}

// Reports every change of the card from the state it had when the client was made.
void indication_loop(uint32_t handle, mcm_client_ind_cb indCb, uint32_t last) {
    while (!g_stop) {
        sim_modem::pause_seconds(0.05);
        const uint32_t state = card_state(sim_modem::seen_card());
        if (state == last) continue;
        last = state;
        McmCardStatusIndication indication{kQlSimSlot1, state};
        sim_modem::log("indication: card state %04X", state);
        indCb(handle, kIndSimCardStatus, &indication, sizeof indication);
    }
}

// Writes codes and payload; a response shorter than the message's record is
// a transport failure, as a mismatched library would report it.
template <typename Payload>
int answer(void* response, uint32_t length, const Payload& payload, McmCodes codes = {}) {
    if (length < sizeof(McmResponse<Payload>)) return kTransportFailure;
    McmResponse<Payload> reply{codes, payload};
    std::memcpy(response, &reply, sizeof reply);
    return 0;
}

// Codes without a payload; every response has room for them.
int codes_only(void* response, McmCodes codes) {
    std::memcpy(response, &codes, sizeof codes);
    return 0;
}

int refuse(void* response, uint32_t error) { return codes_only(response, McmCodes{1, error}); }

template <size_t N>
void copy_text(char (&target)[N], const std::string& text) {
    std::memcpy(target, text.data(), std::min(text.size(), N));
}

template <typename Payload>
int text_answer(void* response, uint32_t length, const std::string& text) {
    Payload payload{};
    payload.valid = text.empty() ? 0 : 1;
    payload.length = static_cast<uint32_t>(std::min(text.size(), sizeof payload.text));
    copy_text(payload.text, text);
    return answer(response, length, payload);
}

// The card must be seen, ready and unlocked for its subscriber data and the network.
uint32_t usable_card_error(const sim_modem::SeenCard& seen) {
    if (seen.card.state != "ready") return kErrorNoSim;
    return seen.pinNeeded ? kErrorPinRequired : 0;
}

int card_status(void* response, uint32_t length) {
    const sim_modem::SeenCard seen = sim_modem::seen_card();
    McmCardStatusPayload payload{};
    payload.valid = 1;
    payload.status.card_state = card_state(seen);
    payload.status.card_type = 1;
    if (seen.card.state == "ready") {
        payload.status.app.app_type = kQlSimApp3gpp;
        payload.status.app.app_state = seen.pinNeeded ? kQlSimAppPinRequired : kAppReady;
    }
    return answer(response, length, payload);
}

int verify_pin(const void* request, void* response, uint32_t length) {
    QlSimPin pin;
    std::memcpy(&pin, request, sizeof pin);
    const std::string text(pin.pin, std::min<size_t>(pin.pin_length, sizeof pin.pin));
    const bool ok = sim_modem::verify_pin(text);
    sim_modem::log("verify pin: %s", ok ? "accepted" : "refused");
    return ok ? answer(response, length, McmPinPayload{3}) : refuse(response, kErrorIncorrectPin);
}

int signal_strength(const sim_modem::Scenario& scenario, void* response, uint32_t length) {
    McmSignalPayload payload{};
    QlNwSignalStrength& s = payload.signal;
    for (const auto& [radio, level] : scenario.signal) {
        if (radio == "gsm") s.gsm_valid = 1, s.gsm_rssi = static_cast<int8_t>(level);
        if (radio == "wcdma") s.wcdma_valid = 1, s.wcdma_rssi = static_cast<int8_t>(level);
        if (radio == "tdscdma") s.tdscdma_valid = 1, s.tdscdma_rssi = static_cast<int8_t>(level);
        if (radio == "lte") s.lte_valid = 1, s.lte_rsrp = static_cast<int16_t>(level);
        if (radio == "cdma") s.cdma_valid = 1, s.cdma_rssi = static_cast<int8_t>(level);
        if (radio == "hdr") s.hdr_valid = 1, s.hdr_rssi = static_cast<int8_t>(level);
    }
    return answer(response, length, payload);
}

bool registered(const sim_modem::Scenario& scenario) {
    return scenario.network.registered && usable_card_error(sim_modem::seen_card()) == 0;
}

// Radio technologies of the 3GPP2 family report in the short detail blocks.
bool short_family(uint32_t radio) { return radio == 5 || radio == 6 || (radio >= 10 && radio <= 14); }

template <typename Detail>
void fill_detail(Detail& detail, const sim_modem::Network& network) {
    detail.valid = 1;
    detail.tech_domain = 1;
    detail.radio_tech = network.radio;
    copy_text(detail.mcc, network.mcc);
    copy_text(detail.mnc, network.mnc);
}

int registration(const sim_modem::Scenario& scenario, void* response, uint32_t length) {
    QlNwRegStatus payload{};
    if (registered(scenario)) {
        const sim_modem::Network& n = scenario.network;
        for (QlNwRegGroup* group : {&payload.voice, &payload.data}) {
            group->valid = 1;
            group->radio_tech = n.radio;
            group->reg_state = 1;
        }
        if (short_family(n.radio)) {
            fill_detail(payload.short2, n);
        } else {
            fill_detail(payload.detail2, n);
            payload.detail2.cell_id = n.cellId;
            payload.detail2.lac = n.lac;
            payload.detail2.tac = n.tac;
        }
    }
    return answer(response, length, payload);
}

int nitz(const sim_modem::Scenario& scenario, void* response, uint32_t length) {
    McmNitzPayload payload{};
    if (registered(scenario) && !scenario.nitz.empty()) {
        payload.nitz_valid = 1;
        copy_text(payload.nitz_time, scenario.nitz);
    }
    return answer(response, length, payload);
}

int serial_numbers(const sim_modem::Scenario& scenario, void* response, uint32_t length) {
    QlDmSerialNumbers payload{};
    payload.imei_valid = scenario.imei.empty() ? 0 : 1;
    copy_text(payload.imei, scenario.imei.substr(0, sizeof payload.imei - 1));
    payload.meid_valid = scenario.meid.empty() ? 0 : 1;
    copy_text(payload.meid, scenario.meid.substr(0, sizeof payload.meid - 1));
    return answer(response, length, payload);
}

int firmware(const sim_modem::Scenario& scenario, void* response, uint32_t length) {
    McmFirmwarePayload payload{};
    copy_text(payload.revision, scenario.firmware.substr(0, sizeof payload.revision - 1));
    return answer(response, length, payload);
}

int subscriber_text(uint32_t msgId, void* response, uint32_t length) {
    const sim_modem::SeenCard seen = sim_modem::seen_card();
    if (msgId == kMsgSimGetIccid) {
        if (seen.card.state != "ready") return refuse(response, kErrorNoSim);
        return text_answer<McmTextPayload20>(response, length, seen.card.iccid);
    }
    if (uint32_t error = usable_card_error(seen)) return refuse(response, error);
    if (msgId == kMsgSimGetImsi) return text_answer<McmTextPayload16>(response, length, seen.card.imsi);
    return text_answer<McmTextPayload84>(response, length, "");
}

int execute(uint32_t handle, uint32_t msgId, const void* request, uint32_t requestLength,
            void* response, uint32_t length) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (handle == 0 || handle != g_handle) return kTransportFailure;
    }
    if (response == nullptr || length < sizeof(McmCodes) || request == nullptr) return kTransportFailure;
    // As the library would, refuse a request or response that is not its message's record.
    const McmWireLengths* wire = mcm_wire(msgId);
    if (wire == nullptr || requestLength != wire->request || length != wire->response) {
        sim_modem::log("message %04X refused: lengths %u and %u", msgId, requestLength, length);
        return kTransportFailure;
    }
    const sim_modem::Scenario scenario = sim_modem::scenario();
    if (auto forced = scenario.mcmFailures.find(msgId); forced != scenario.mcmFailures.end()) {
        const sim_modem::Codes& codes = forced->second;
        sim_modem::log("message %04X: forced ret %d resp %u error %u", msgId, codes.ret,
                       codes.resp, codes.error);
        // A transport failure may leave codes in the response too; they mean nothing then.
        codes_only(response, McmCodes{codes.resp, codes.error});
        return codes.ret;
    }
    switch (msgId) {
        case kMsgSimGetImsi:
        case kMsgSimGetIccid:
        case kMsgSimGetPhoneNumber: return subscriber_text(msgId, response, length);
        case kMsgSimGetCardStatus: return card_status(response, length);
        case kMsgSimVerifyPin: return verify_pin(request, response, length);
        case kMsgNwGetSignalStrength: return signal_strength(scenario, response, length);
        case kMsgNwGetRegStatus: return registration(scenario, response, length);
        case kMsgNwGetNitzTimeInfo: return nitz(scenario, response, length);
        case kMsgDmGetSerialNumbers: return serial_numbers(scenario, response, length);
        case kMsgDmGetFirmware: return firmware(scenario, response, length);
        default: return codes_only(response, McmCodes{});
    }
}

}  // namespace

uint32_t mcm_client_init(uint32_t* handle, mcm_client_ind_cb ind_cb, mcm_client_async_cb) {
    const uint32_t forced = sim_modem::scenario().mcmInit;
    if (forced > 1 || handle == nullptr) return forced > 1 ? forced : 2;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_handle != 0) return 2;
    g_handle = g_nextHandle++;
    g_stop = false;
    if (ind_cb != nullptr) g_thread = new std::thread(indication_loop, g_handle, ind_cb,
                                                     card_state(sim_modem::seen_card()));
    *handle = g_handle;
    sim_modem::log("mcm client %u created", g_handle);
    return forced;
}

int mcm_client_execute_command_sync(uint32_t handle, uint32_t msg_id, void* request,
                                    uint32_t request_length, void* response,
                                    uint32_t response_length) {
    return execute(handle, msg_id, request, request_length, response, response_length);
}

int mcm_client_execute_command_sync_ex(uint32_t handle, uint32_t msg_id, void* request,
                                       uint32_t request_length, void* response,
                                       uint32_t response_length, uint32_t) {
    return execute(handle, msg_id, request, request_length, response, response_length);
}

int mcm_client_release(uint32_t handle) {
    std::unique_ptr<std::thread> thread;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (handle == 0 || handle != g_handle) return kTransportFailure;
        g_handle = 0;
        g_stop = true;
        thread.reset(g_thread);
        g_thread = nullptr;
    }
    if (thread && thread->joinable()) thread->join();
    sim_modem::log("mcm client %u released", handle);
    return sim_modem::scenario().mcmRelease;
}
