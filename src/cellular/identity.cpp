#include "cellular/identity.h"

#include <cstdint>
#include <cstring>

#include "core/daemon_state.h"
#include "core/event_log.h"
#include "modem_sdk/ql_mcm.h"

namespace {

// Created on first use and kept for the life of the process.
uint32_t g_dmHandle = 0;

int dm_client() { return g_dmHandle != 0 ? 0 : QL_MCM_DM_Client_Init(&g_dmHandle); }

// Copies text with its terminator when it fits into `size` bytes.
template <size_t N>
void keep_text(char (&target)[N], const char* text, size_t size) {
    const size_t length = strnlen(text, size);
    if (length < N) std::memcpy(target, text, length + 1);
}

}  // namespace

int modem_firmware_read() {
    if (int rc = dm_client()) return rc;
    QlDmFirmware firmware{};
    if (int rc = QL_MCM_DM_GetFirmware(g_dmHandle, &firmware)) return rc;
    keep_text(g_state.modemFirmware, firmware.revision, sizeof firmware.revision);
    return 0;
}

void identity_read() {
    int rc = dm_client();
    if (rc == 0) {
        QlDmSerialNumbers serials{};
        rc = QL_MCM_DM_GetSerialNumbers(g_dmHandle, &serials);
        if (rc == 0) keep_text(g_state.imei, serials.imei, sizeof serials.imei);
    }
    if (rc != 0) log_event("sync", 2, "Get IMEI error: %d", rc);
    if (int firmware = modem_firmware_read())
        log_event("sync", 2, "Get device Rev ID error: %d", firmware);
}

// For tests (state_reset.h).
void identity_reset() { g_dmHandle = 0; }
