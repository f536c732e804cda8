#include "cellular/sim_slots.h"

#include <algorithm>
#include <cstring>

#include "cellular/at_exchange.h"
#include "board/board_gpio.h"
#include "cellular/carrier.h"
#include "core/cellular_status.h"
#include "core/event_log.h"
#include "modem_sdk/ql_mcm.h"
#include "modem_sdk/ql_mgmt.h"
#include "core/time_seam.h"

namespace {

constexpr int kClientAttempts = 4;
constexpr int kReadAttempts = 4;
constexpr int kPinAttempts = 4;
constexpr unsigned kPinPause = 2;
constexpr char kSimPin[] = "73150284";
constexpr int kCfunChecks = 14;
// A card needs this long after "AT+CFUN=1" was answered before its status can be read.
constexpr unsigned kCardWakeSeconds = 1;
constexpr int kCardChecks = 9;
constexpr const char* kForbiddenNetworksCleared =
    "AT+CRSM=214,28539,0,0,12,\"FFFFFFFFFFFFFFFFFFFFFFFF\"\r";

uint32_t g_simHandle = 0;

// Reads one identity text into a cleared buffer, up to 4 attempts 1 s apart.
template <typename Read>
void read_text(char* buffer, size_t size, const char* failure, Read read) {
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        if (attempt > 0) sleep_seconds(1);
        sim_client_ensure();
        if (g_simHandle == 0) return;
        std::memset(buffer, 0, size);
        const int rc = read(buffer, size);
        if (rc == 0) return;
        log_event("SIM", 2, failure, rc);
    }
}

bool pin_required() {
    sim_client_ensure();
    if (g_simHandle == 0) return false;
    QlSimCardStatus status{};
    return QL_MCM_SIM_GetCardStatus(g_simHandle, kQlSimSlot1, &status) == 0 &&
           status.app.app_state == kQlSimAppPinRequired;
}

void verify_pin() {
    QlSimPin pin{kQlSimSlot1, kQlSimApp3gpp, kQlSimPin1, sizeof pin.pin, {}};
    std::memcpy(pin.pin, kSimPin, sizeof pin.pin);
    for (int attempt = 0; attempt < kPinAttempts; ++attempt) {
        if (attempt > 0) sleep_seconds(1);
        const int rc = QL_MCM_SIM_VerifyPIN(g_simHandle, &pin);
        if (rc == 0) {
            log_event("sim", 2, "Sim pin - OK");
            break;
        }
        log_event("sim", 2, "Unable to validate sim pin - %d", rc);
    }
    sleep_seconds(kPinPause);
}

SimSlot& other_than(const SimSlot& slot) { return g_simSlots[slot.number == 0 ? 1 : 0]; }

void switch_to(SimSlot& slot) {
    log_event("sim", 1, "Switch sim card slot: %d", slot.number);
    sim_select_slot(slot.number, 3);
}

}  // namespace

uint32_t sim_client() { return g_simHandle; }

void sim_client_ensure() {
    for (int attempt = 0; attempt < kClientAttempts && g_simHandle == 0; ++attempt) {
        if (attempt > 0) sleep_seconds(1);
        const int rc = QL_MCM_SIM_Client_Init(&g_simHandle);
        if (rc == 0) {
            log_event("SIM", 0, "Sim Client initialized");
        } else {
            g_simHandle = 0;
            log_event("SIM", 2, "Fail to intialize Sim Client - %d", rc);
        }
    }
}

void sim_client_release() {
    if (g_simHandle != 0) QL_MCM_SIM_Client_Deinit(g_simHandle);
    g_simHandle = 0;
}

bool sim_card_state(uint32_t& state) {
    QlSimCardStatus status{};
    const int rc = QL_MCM_SIM_GetCardStatus(g_simHandle, kQlSimSlot1, &status);
    state = status.card_state;
    return rc == 0;
}

void sim_select_slot(int slot, unsigned settle) {
    g_cellular.currentSlot = &g_simSlots[slot == 0 ? 0 : 1];
    sim_client_release();
    at_exchange("AT+CFUN=0\r", kCfunChecks);
    sim_gpio_select(slot);
    sleep_seconds(settle);
    at_exchange("AT+CFUN=1\r", kCfunChecks);
    sleep_seconds(std::max(settle, kCardWakeSeconds));
    sim_client_ensure();
    uint32_t state = 0;
    if (!sim_card_state(state) || state != kQlSimCardReady) return;
    if (pin_required()) verify_pin();
    at_exchange("AT+QMBNCFG=\"deactivate\"\r", kCardChecks);
    at_exchange(kForbiddenNetworksCleared, kCardChecks);
}

void sim_read_identity(SimSlot& slot) {
    SimIdentity identity{};
    read_text(identity.iccid, sizeof identity.iccid, "Fail to get ICCID - %d",
              [](char* buffer, size_t size) {
                  return QL_MCM_SIM_GetICCID(g_simHandle, kQlSimSlot1, buffer, size);
              });
    if (char* filler = std::strchr(identity.iccid, 'F')) *filler = '\0';
    log_event("cellular", 0, "ICCID (slot #%d): %s", slot.number, identity.iccid);
    read_text(identity.imsi, sizeof identity.imsi - 1, "Fail to get IMSI - %d",
              [](char* buffer, size_t size) {
                  const QlSimApp app{kQlSimSlot1, kQlSimApp3gpp};
                  return QL_MCM_SIM_GetIMSI(g_simHandle, &app, buffer, size);
              });
    log_event("cellular", 0, "IMSI (slot #%d): %s", slot.number, identity.imsi);
    sim_slot_set_identity(slot, identity);
    slot.carrier = carrier_index(identity.imsi);
}

void sim_recover() {
    g_cellular.modemReady = 0;
    g_cellular.dataCallUp = 0;
    g_cellular.simMissing = 0;
    cellular_set_registration(Registration{});
    QL_Data_Call_Stop(1, 0);
    SimSlot* current = g_cellular.currentSlot.load();
    SimSlot& other = other_than(*current);
    if (other.presence != 0) {
        current = &other;
        switch_to(other);
    }
    if (current->presence != 2) return;
    sim_client_ensure();
    if (g_simHandle == 0) return;
    uint32_t state = 0;
    if (!sim_card_state(state) || state != kQlSimCardReady) {
        log_event("sim", 1, "No sim card on slot: %d", current->number);
        current->presence = 0;
        switch_to(other_than(*current));
        return;
    }
    current->presence = 1;
    sim_read_identity(*current);
}
