#include "cellular/carrier.h"

#include <cstring>

#include "core/cellular_status.h"
#include "core/event_log.h"
#include "modem_sdk/ql_mgmt.h"
#include "core/time_seam.h"

namespace {

// Edit here when a carrier changes its APN. An empty name leaves the choice
// to the network's default APN.
constexpr CarrierApn kCarrierApns[kCarrierRows] = {
    {"jtm2m", 2},          // 0: 90117, 23403, 23450, 23451, 20408
    {"", 2},               // 1: every other network
    {"sp.mb.com", 1},      // 2: 302760
    {"pda.bell.ca", 99},   // 3: 302630, 302651, 302610, 302640
    {"", 99},              // 4: 302690
    {"ltemobile.apn", 99}, // 5: 302720
    {"VZWINTERNET", 1},    // 6: 311480
};

struct CarrierCode {
    const char* code;  // compared over its own length with the IMSI's start
    uint32_t row;
};

// First match wins.
constexpr CarrierCode kCarrierCodes[] = {
    {"90117", 0},  {"23403", 0},  {"23450", 0},  {"23451", 0},  {"20408", 0},
    {"302760", 2}, {"302630", 3}, {"302651", 3}, {"302610", 3}, {"302640", 3},
    {"302690", 4}, {"302720", 5}, {"311480", 6},
};
constexpr uint32_t kOtherCarrier = 1;

constexpr uint8_t kCallProfile = 3;
constexpr uint32_t kCallIpFamily = 0;
constexpr int kPreconditionChecks = 10;
constexpr unsigned kPreconditionPauseMs = 500;

bool manager_ready() {
    for (int check = 0; check < kPreconditionChecks; ++check) {
        if (QL_Data_Call_Init_Precondition() == 0) return true;
        log_event("Data", 1, "The modem manager service is not initialized, try again.");
        sleep_milliseconds(kPreconditionPauseMs);
    }
    return false;
}

}  // namespace

const CarrierApn& carrier_row(uint32_t row) {
    return kCarrierApns[row < kCarrierRows ? row : kOtherCarrier];
}

uint32_t carrier_index(const char* imsi) {
    if (imsi == nullptr) return kOtherCarrier;
    for (const CarrierCode& code : kCarrierCodes)
        if (std::strncmp(imsi, code.code, std::strlen(code.code)) == 0) return code.row;
    return kOtherCarrier;
}

void apn_program() {
    QL_APN_Del(kCallProfile);
    QlApnProfile profile{};
    profile.profile_index = kCallProfile;
    const char* apn = carrier_row(g_cellular.currentSlot.load()->carrier).apn;
    std::strncpy(profile.settings.apn_name, apn, sizeof profile.settings.apn_name - 1);
    QL_APN_Set(&profile);
    QlDefaultProfile defaultProfile{kCallProfile};
    QL_Data_Call_Set_Default_Profile(&defaultProfile);
}

int data_call_up() {
    if (!manager_ready()) {
        log_event("Data", 2, "Data call failure");
        return -1;
    }
    if (QL_Data_Call_Init(data_call_state_cb) != 0) {
        log_event("Data", 2, "Initialization data call failure");
        return -1;
    }
    QlDataCallInfo info{};
    int error = 0;
    if (QL_Data_Call_Info_Get(kCallProfile, kCallIpFamily, &info, &error) != 0) {
        log_event("Data", 2, "Get profile index %d information failure: errno 0x%x", kCallProfile,
                  static_cast<unsigned>(error));
        return 0;
    }
    if (info.state == 1) {
        log_event("Data", 1, "Profile index %d is already connected, don't up", kCallProfile);
        return 0;
    }
    QlDataCallStart start{};
    start.profile_index = kCallProfile;
    start.option = 1;
    start.ip_family = kCallIpFamily;
    int startError = 0;
    if (QL_Data_Call_Start(&start, &startError) == 0)
        log_event("Data", 0, "Profile index %d start data call success", kCallProfile);
    else
        log_event("Data", 2, "Profile index %d start data call failure: 0x%x", kCallProfile,
                  static_cast<unsigned>(startError));
    return 0;
}

void data_call_state_cb(const QlDataCallEvent* event) {
    if (event == nullptr) return;
    if (event->state == 1) {
        g_cellular.dataCallUp = 1;
        log_event("Data", 0, "Data activated");
    } else {
        g_cellular.dataCallUp = 0;
        log_event("Data", 1, "Data is disconnected: 0x%x", event->reason);
    }
}
