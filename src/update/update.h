#pragma once
#include <cstdint>

// The update package /media/sdcard/update.tar.gz: a gzip-compressed tar whose
// one-line manifest.json says which parts it updates (the daemon's side on the
// modem, the MCU, or both) and to which version.

// Installs what the package asks for: the modem side is extracted over
// /usrdata/ (after its post-update script runs), the MCU firmware member is
// flashed; a firmware file left in /usrdata/ without a package is flashed too.
// 1 when the modem side was installed or the MCU flashed, else 0.
int32_t update_check(int32_t mcu_version, int32_t modem_version);

// Deletes the package unless its manifest said to keep it, and always the
// extracted MCU firmware.
void update_cleanup();
