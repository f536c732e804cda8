#pragma once

// The modem's IMEI and firmware revision, read once at start-up from the
// device-management service into imei and modemFirmware of g_state.

// Failures are logged and leave the texts empty.
void identity_read();
// 0, or the code of the call that failed.
int modem_firmware_read();
