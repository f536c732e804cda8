#pragma once
#include <cstdint>

struct SimSlot;

// The two SIM slots behind the modem's one SIM interface: switching between
// them, the SIM client, reading a card's identity and recovering on the
// other slot. Runs on the cellular thread.

// The SIM client handle, 0 when there is none.
uint32_t sim_client();
// Up to 4 attempts, 1 s apart, when there is no client yet.
void sim_client_ensure();
// Releases the client; every slot switch does.
void sim_client_release();
// Switches the modem to `slot`, waiting `settle` seconds after each AT+CFUN
// (at least a second after AT+CFUN=1, before the card status is read).
void sim_select_slot(int slot, unsigned settle);
// Clears the status and moves to the other slot unless it is known empty.
void sim_recover();

// The card state of the card the modem sees now; false when it cannot be read.
bool sim_card_state(uint32_t& state);
// Reads ICCID and IMSI into the slot record, logs them and sets its carrier.
void sim_read_identity(SimSlot& slot);
