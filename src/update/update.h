#pragma once
#include <cstdint>

// The update package /media/sdcard/update.tar.gz: a gzip-compressed tar whose
// one-line manifest.json says which parts it updates (the daemon's side on the
// modem, the MCU, or both) and to which version.

// Installs what the package asks for: the modem side is extracted over
// /usrdata/ (then its post-update script runs), the MCU firmware member is
// flashed; a firmware file left in /usrdata/ without a package is flashed too.
// A package is refused whole, and removed, when it is damaged, holds anything
// but regular files and folders with relative names, or lacks a valid
// signature while /usrdata/update_key.pem is installed.
// 1 when the modem side was installed or the MCU flashed, else 0.
int32_t update_check(int32_t mcu_version, int32_t modem_version);

// Deletes the package and its signature unless the manifest said to keep
// them (a signature without a package stays), and always the extracted MCU
// firmware.
void update_cleanup();
