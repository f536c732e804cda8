#pragma once
#include <string>

// Maps the daemon's absolute device paths to real ones. On the module the
// root is empty and paths stay exactly as written; on a PC the simulated
// board's folder is put in front.

// Reads QZ_ROOT once; with a root set, also puts the root's bin/ first in PATH
// so that halt, reboot, swapon and friends resolve to the board's stand-ins.
void device_root_init();

// Tests set the root directly (empty for none).
void device_root_set(const std::string& root);
const std::string& device_root();

// "/media/sdcard/log.txt" -> "<root>/media/sdcard/log.txt".
std::string device_path(const char* path);
inline std::string device_path(const std::string& path) { return device_path(path.c_str()); }
