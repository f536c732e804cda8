#include "cellular/cellular.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cellular/carrier.h"
#include "core/cellular_status.h"
#include "core/clock_helpers.h"
#include "core/daemon_state.h"
#include "core/event_log.h"
#include "core/run_command.h"
#include "modem_sdk/ql_mcm.h"
#include "modem_sdk/ql_mgmt.h"
#include "cellular/signal_quality.h"
#include "cellular/sim_slots.h"
#include "core/time_seam.h"

namespace {

constexpr int kStableReadings = 179;
constexpr int kStableSpread = 3;
constexpr int kCallWaitChecks = 29;
constexpr int kNitzAttempts = 12;
constexpr unsigned kNitzPause = 5;
constexpr unsigned kSlotSettle = 3;
constexpr const char* kNtpHost = "pool.ntp.org";

constexpr const char* kRadioNames[] = {
    "unknown", "TD_SCDMA", "GSM",    "HSPAP", "LTE",   "EHRPD", "EVDO_B",
    "HSPA",    "HSUPA",    "HSDPA",  "EVDO_A", "EVDO_0", "1xRTT", "IS95B",
    "IS95A",   "UMTS",     "EDGE",   "GPRS",  "NONE",
};
constexpr uint32_t kRadioCodes = sizeof kRadioNames / sizeof kRadioNames[0];

struct ZoneHours {
    int mcc;
    int hours;  // east of UTC
};
// Searched in this order; the first match wins.
constexpr ZoneHours kEuropeanZones[] = {
    {276, 1}, {232, 1}, {206, 1}, {284, 2}, {219, 1}, {280, 2}, {230, 1}, {238, 1}, {248, 2},
    {244, 2}, {208, 1}, {262, 1}, {266, 1}, {202, 1}, {234, 0}, {216, 1}, {274, 0}, {272, 0},
    {234, 0}, {222, 1}, {234, 0}, {247, 2}, {295, 1}, {246, 2}, {270, 1}, {294, 1}, {278, 1},
    {212, 1}, {204, 1}, {242, 1}, {260, 1}, {268, 0}, {226, 2}, {292, 1}, {220, 1}, {231, 1},
    {293, 1}, {214, 1}, {240, 1}, {228, 1}, {286, 3}, {255, 2}, {234, 0}, {225, 1},
};

std::atomic<bool> g_threadRunning{false};

const char* radio_name(uint32_t code) { return code < kRadioCodes ? kRadioNames[code] : "unknown"; }

template <size_t N, size_t M>
void copy_code(char (&to)[N], const char (&from)[M]) {
    const size_t length = strnlen(from, M);
    if (length >= N) return;
    std::memcpy(to, from, length);
    to[length] = '\0';
}

// ---- SIM slots ----------------------------------------------------------

enum class Scan { Next, Stop, GiveUp };

// Stop: the card's carrier is the most wanted, the scan ends here.
Scan examine_slot(SimSlot& slot) {
    const SimSlot* current = g_cellular.currentSlot.load();
    sim_select_slot(slot.number, current->number == slot.number ? 0 : kSlotSettle);
    sim_client_ensure();
    if (sim_client() == 0) return Scan::GiveUp;
    uint32_t state = 0;
    if (!sim_card_state(state) || state != kQlSimCardReady) {
        log_event("cellular", 0, "Slot #%d empty (%lx)", slot.number,
                  static_cast<unsigned long>(state));
        slot.presence = 0;
        return Scan::Next;
    }
    slot.presence = 1;
    sim_read_identity(slot);
    return carrier_row(slot.carrier).preference == 1 ? Scan::Stop : Scan::Next;
}

// -1 when neither slot holds a ready card.
int chosen_slot() {
    const bool ready0 = g_simSlots[0].presence == 1, ready1 = g_simSlots[1].presence == 1;
    if (ready0 && ready1)
        return carrier_row(g_simSlots[1].carrier).preference <
                       carrier_row(g_simSlots[0].carrier).preference
                   ? 1
                   : 0;
    return ready0 ? 0 : ready1 ? 1 : -1;
}

bool final_check_passes() {
    sim_client_ensure();
    QlSimCardStatus status{};
    const int rc = QL_MCM_SIM_GetCardStatus(sim_client(), kQlSimSlot1, &status);
    if (rc == 0 && status.card_state == kQlSimCardReady) return true;
    const int number = g_cellular.currentSlot.load()->number;
    log_event("cellular", 2, "Sim error (slot #%d): ret %d", number, rc);
    log_event("cellular", 2, "Sim error (slot #%d): e_card_state %d", number,
              static_cast<int>(status.card_state));
    return false;
}

int give_up() {
    log_event("cellular", 2, "Modem initialization error - %d", -1);
    return -1;
}

// ---- Bring-up -------------------------------------------------------------

bool wait_stable_signal() {
    int reading = signal_dbm(), previous = 0;
    for (int count = 0; count < kStableReadings; ++count) {
        if (reading != 0 && std::abs(reading - previous) < kStableSpread) return true;
        const int fresh = signal_dbm();
        sleep_seconds(1);
        previous = reading;
        reading = fresh;
    }
    return false;
}

void record_registration() {
    const uint32_t handle = nw_client();
    if (handle == 0) return;
    QlNwRegStatus status{};
    if (QL_MCM_NW_GetRegStatus(handle, &status) != 0) return;
    Registration registration = cellular_registration();
    if (status.detail2.valid) {
        const QlNwRegDetail& detail = status.detail2;
        std::snprintf(registration.radioType, sizeof registration.radioType, "%s",
                      radio_name(detail.radio_tech));
        copy_code(registration.mcc, detail.mcc);
        copy_code(registration.mnc, detail.mnc);
        registration.cellId = detail.cell_id;
        if (detail.lac != 0)
            registration.lac = static_cast<uint16_t>(detail.lac);
        else if (detail.tac != 0)
            registration.lac = static_cast<uint16_t>(detail.tac);
    } else if (status.short2.valid) {
        const QlNwRegShortDetail& detail = status.short2;
        std::snprintf(registration.radioType, sizeof registration.radioType, "%s",
                      radio_name(detail.radio_tech));
        copy_code(registration.mcc, detail.mcc);
        copy_code(registration.mnc, detail.mnc);
        registration.cellId = 0;
        registration.lac = 0;
    }
    cellular_set_registration(registration);
}

void open_failed() {
    log_event("cell", 2, "Open data context failed");
    sim_recover();
}

// Waits about 30 s for the call, then as long as it stays up.
void supervise_call() {
    if (g_cellular.dataCallUp == 0) {
        sleep_seconds(1);
        for (int check = 0; check < kCallWaitChecks && g_cellular.dataCallUp == 0; ++check)
            sleep_seconds(1);
    }
    if (g_cellular.dataCallUp == 1 && g_cellular.timeKnown == 0) time_zone_set();
    while (g_cellular.dataCallUp == 1) sleep_seconds(1);
}

// ---- Time zone ------------------------------------------------------------

bool european_hours(const char* mcc, int& hours) {
    const int code = std::atoi(mcc);
    for (const ZoneHours& zone : kEuropeanZones) {
        if (zone.mcc != code) continue;
        hours = zone.hours;
        return true;
    }
    return false;
}

// The network's offset (characters 17 to 19: sign and quarter hours) as a
// POSIX zone text; false for a text too short or not of that form.
bool nitz_zone(const char* nitz, char (&zone)[16], int& quarters) {
    if (strnlen(nitz, 20) < 20) return false;
    const char sign = nitz[17];
    if ((sign != '+' && sign != '-') || nitz[18] < '0' || nitz[18] > '9' || nitz[19] < '0' ||
        nitz[19] > '9')
        return false;
    quarters = (nitz[18] - '0') * 10 + (nitz[19] - '0');
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", sign == '+' ? '-' : '+', quarters / 4,
                  (quarters % 4) * 15);
    return true;
}

// Asks the network up to 12 times for a nonzero offset; the last good answer
// stands, UTC when there was none.
void zone_from_nitz(char (&zone)[16]) {
    std::snprintf(zone, sizeof zone, "+00:00");
    for (int attempt = 0; attempt < kNitzAttempts; ++attempt) {
        if (attempt > 0) sleep_seconds(kNitzPause);
        QlNwNitzTime nitz{};
        const int rc = QL_MCM_NW_GetNitzTimeInfo(nw_client(), &nitz);
        int quarters = 0;
        if (rc != 0 || !nitz_zone(nitz.nitz_time, zone, quarters)) {
            log_event("Datetime", 2, "Failed to get nitz: %d", rc != 0 ? rc : -1);
            continue;
        }
        if (quarters != 0) return;
    }
}

void* cellular_thread(void*) {
    const int result = cellular_sim_setup();
    while (result == 0) cellular_bring_up_once();
    g_threadRunning = false;
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

}  // namespace

void cellular_start() {
    if (g_threadRunning.exchange(true)) {
        log_event("cell", 1, "Cellular handler already running");
        return;
    }
    if (pthread_create(&g_state.cellularThread, nullptr, cellular_thread, nullptr) != 0) {
        g_threadRunning = false;
        log_event("cell", 2, "Fail to initialise cellular handler thread");
        return;
    }
    pthread_detach(g_state.cellularThread);
}

int cellular_sim_setup() {
    cellular_status_reset();
    for (SimSlot& slot : g_simSlots) {
        const Scan scan = examine_slot(slot);
        if (scan == Scan::GiveUp) return give_up();
        if (scan == Scan::Stop) break;
    }
    const int chosen = chosen_slot();
    if (chosen >= 0 && chosen != g_cellular.currentSlot.load()->number)
        sim_select_slot(chosen, kSlotSettle);
    if (final_check_passes()) return 0;
    sim_recover();
    if (final_check_passes()) return 0;
    g_cellular.simMissing = 1;
    return give_up();
}

void cellular_bring_up_once() {
    apn_program();
    if (!wait_stable_signal()) {
        log_event("cell", 2, "Can't get stable signal");
        sim_recover();
        return;
    }
    g_cellular.modemReady = 1;
    record_registration();
    log_event("cellular", 0, "Signal type: %s", cellular_registration().radioType);
    bool reconnectLeft = true;
    if (data_call_up() != 0) {
        open_failed();
        reconnectLeft = false;
        if (data_call_up() != 0) {
            open_failed();
            sim_recover();
            return;
        }
    }
    for (;;) {
        supervise_call();
        QL_Data_Call_Stop(1, 0);
        if (!reconnectLeft) {
            sim_recover();
            return;
        }
        reconnectLeft = false;
        if (data_call_up() != 0) {
            open_failed();
            sim_recover();
            return;
        }
    }
}

void time_zone_set() {
    char zone[16];
    int hours = 0;
    const Registration registration = cellular_registration();
    if (registration.mcc[0] == '2' && european_hours(registration.mcc, hours)) {
        std::snprintf(zone, sizeof zone, "-0%d:00", hours);
        run_command("ntpd -n -N -q -p %s", kNtpHost);
    } else {
        zone_from_nitz(zone);
    }
    // At most 9 characters in all.
    const std::string tz = (std::string("UTC") + zone).substr(0, 9);
    clock_set_timezone(tz.c_str());
    g_cellular.timeKnown = 1;
}
