#pragma once
#include <atomic>
#include <cstdint>

// One SIM slot of the add-on. The identity texts are written by the cellular
// thread while the cloud exchange reads them, so they move under a lock.
struct SimIdentity {
    char iccid[22];
    char imsi[17];
};

struct SimSlot {
    explicit SimSlot(uint8_t slotNumber) : number(slotNumber) {}
    const uint8_t number;
    std::atomic<uint32_t> presence{2};  // 2 not examined, 1 ready, 0 no usable card
    std::atomic<uint32_t> carrier{1};   // row of the carrier APN table
};

extern SimSlot g_simSlots[2];

// What the network registration said last; copied in and out under a lock.
struct Registration {
    char mcc[4];
    char mnc[4];
    char radioType[12];
    uint32_t cellId;
    uint16_t lac;
};

// What the cellular manager tells the other threads; flags are polled without waiting.
struct CellularStatus {
    std::atomic<int> modemReady{0};
    std::atomic<int> dataCallUp{0};
    std::atomic<int> timeKnown{0};
    std::atomic<int> simMissing{0};
    std::atomic<SimSlot*> currentSlot{&g_simSlots[0]};
};

extern CellularStatus g_cellular;

// Zeroes the flags and the registration; slot 0 becomes current (the
// cellular thread's start).
void cellular_status_reset();

Registration cellular_registration();
void cellular_set_registration(const Registration& registration);
SimIdentity sim_slot_identity(const SimSlot& slot);
void sim_slot_set_identity(const SimSlot& slot, const SimIdentity& identity);
