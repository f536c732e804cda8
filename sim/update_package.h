#pragma once
#include <string>

// An update package as a build delivers one, laid on the board's SD card as
// /media/sdcard/update.tar.gz: the one-line manifest.json, the MCU firmware
// "torvex-c1.a87" when there is one, a new daemon "qz_daemon.new" when there
// is one, a file for /usrdata/ and the module build's post-update script (it
// puts the new daemon in place), which also records its run in
// sim/commands.log.
struct UpdatePackage {
    std::string manifest;
    std::string firmware;  // Intel HEX text; empty: no firmware member
    std::string daemon = {};  // empty: no new daemon
};

// True when the package was written.
bool update_package_lay(const std::string& root, const UpdatePackage& package);
