#pragma once
#include <cstdint>

struct QlDataCallEvent;

// The built-in carrier table: the APN written into profile 3 before every
// bring-up, and the preference that decides between two SIM cards.
struct CarrierApn {
    const char* apn;
    uint32_t preference;  // 1 most wanted, 99 least
};
constexpr int kCarrierRows = 7;
const CarrierApn& carrier_row(uint32_t row);

// Row of the carrier table for an IMSI; 1 when no code matches.
uint32_t carrier_index(const char* imsi);
// Writes the current slot's APN into profile 3 and makes it the default.
void apn_program();
// 0 when the call is considered started, -1 when the management server is unusable.
int data_call_up();
// Given to the management library; runs on its thread.
void data_call_state_cb(const QlDataCallEvent* event);
