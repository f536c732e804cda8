#pragma once

// Functions only tests call. Each is defined beside the process-wide state it
// puts back to its start values, so that one case leaves nothing to the next.

void config_reset();           // DaemonConfig zeroed, appliedConfig dropped
void daemon_state_reset();     // DaemonState fields and the AT answer
void sim_slots_reset();        // both SIM slot records not examined, carrier row 1
void nw_client_reset();        // the NW client handle forgotten
void mcm_client_reset();       // every MCM client type released, handlers forgotten
void mgmt_reset();             // management handle closed, callbacks forgotten
void identity_reset();         // the DM client handle forgotten
