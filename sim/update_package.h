#pragma once
#include <string>

// An update package as a build delivers one, laid on the board's SD card as
// /media/sdcard/update.tar.gz: the one-line manifest.json, the MCU firmware
// "torvex-c1.a87" when there is one, a file for /usrdata/ and a post-update
// script that records its run in sim/commands.log.
struct UpdatePackage {
    std::string manifest;
    std::string firmware;  // Intel HEX text; empty: no firmware member
};

// True when the package was written.
bool update_package_lay(const std::string& root, const UpdatePackage& package);
