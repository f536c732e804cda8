#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/cloud_emulator.h"

class SimBoard;

// One "sync" of the real daemon on the simulated board against a cloud
// service that misbehaves, and what it cost: the benchmark's modes and the
// tests' rows are the same table.

struct HostileMode {
    std::string name;
    CloudScenario cloud;
    int pictures = 1;  // transmit copies PICT0001.JPG.. (newest last) of kHostilePictureBytes
    bool storedToken = true;                    // the device holds a token the service accepts
    double speed = 20;                          // the daemon's clock runs this much faster
    std::function<void(SimBoard&)> beforeSync;  // once the data call is up
};

constexpr size_t kHostilePictureBytes = 20000;

// The modes: each way of misbehaving the daemon must survive within its bounds.
std::vector<HostileMode> hostile_modes();

struct HostileRun {
    bool ended = false;         // the sync's end mark came
    double seconds = 0;         // from "qz+sync" to its end mark, on the daemon's clock
    double longestSilence = 0;  // towards the MCU meanwhile, on the daemon's clock
    long peakKb = 0;            // the daemon's VmHWM over the sync
    size_t requests = 0;
    CloudEmulator::Traffic traffic;
    std::map<std::string, std::string> copies;  // the transmit copies before the sync
    std::map<std::string, std::string> stored;  // what the cloud stored, by name
    std::vector<std::string> kept;              // left in transmit/
    std::string log;                            // the event log
    std::string sanitizerReport;                // from the daemon's output, empty when none
    std::string failure;                        // why the run could not be made, or empty
};

// `daemonPath`: another build's qz_daemon, to compare; empty: this build's.
HostileRun hostile_sync_run(const HostileMode& mode, const std::string& daemonPath = "");
