#include "cellular_status.h"

CellularStatus g_cellular;

// For tests (state_reset.h).
void cellular_status_reset() {
    g_cellular.modemReady = 0;
    g_cellular.dataCallUp = 0;
    g_cellular.timeKnown = 0;
    g_cellular.simMissing = 0;
}
