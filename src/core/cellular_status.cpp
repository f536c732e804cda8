#include "core/cellular_status.h"

#include <mutex>

SimSlot g_simSlots[2]{SimSlot(0), SimSlot(1)};
CellularStatus g_cellular;

namespace {
std::mutex g_textMutex;
Registration g_registration{};
SimIdentity g_identities[2]{};
}  // namespace

void cellular_status_reset() {
    g_cellular.modemReady = 0;
    g_cellular.dataCallUp = 0;
    g_cellular.timeKnown = 0;
    g_cellular.simMissing = 0;
    g_cellular.currentSlot = &g_simSlots[0];
    cellular_set_registration(Registration{});
}

// For tests (state_reset.h).
void sim_slots_reset() {
    for (SimSlot& slot : g_simSlots) {
        slot.presence = 2;
        slot.carrier = 1;
        sim_slot_set_identity(slot, SimIdentity{});
    }
}

Registration cellular_registration() {
    std::lock_guard<std::mutex> lock(g_textMutex);
    return g_registration;
}

void cellular_set_registration(const Registration& registration) {
    std::lock_guard<std::mutex> lock(g_textMutex);
    g_registration = registration;
}

SimIdentity sim_slot_identity(const SimSlot& slot) {
    std::lock_guard<std::mutex> lock(g_textMutex);
    return g_identities[slot.number & 1];
}

void sim_slot_set_identity(const SimSlot& slot, const SimIdentity& identity) {
    std::lock_guard<std::mutex> lock(g_textMutex);
    g_identities[slot.number & 1] = identity;
}
