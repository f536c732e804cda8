#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "mcu_loader.h"
#include "pty_pair.h"
#include "test_root.h"

// One Intel HEX record with its checksum, ended by CR LF.
std::string hex_record(uint16_t address, const std::vector<uint8_t>& bytes, uint8_t type = 0);

// The 64 KiB image srecord makes of a HEX file (0xFF where it has no data).
std::string reference_image(const std::string& hexPath);

// The board's MCU loader behind the test root's dev/ttyHS0.
class LoaderPeer {
public:
    explicit LoaderPeer(const TestRoot& root, LoaderFaults faults = LoaderFaults());
    ~LoaderPeer();
    bool entered_loader() const { return inLoader_.load(); }
    // Lets the loader take what was sent, then the flash image after the end
    // packet; empty when it never came.
    std::string finish();

private:
    void run();

    PtyPair pty_;
    McuLoader loader_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> inLoader_{false};
    std::thread thread_;
};
