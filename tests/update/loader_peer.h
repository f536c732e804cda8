#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim/board.h"
#include "tests/support/test_root.h"

// One Intel HEX record with its checksum, ended by CR LF.
std::string hex_record(uint16_t address, const std::vector<uint8_t>& bytes, uint8_t type = 0);

// The 64 KiB image srecord makes of a HEX file (0xFF where it has no data).
std::string reference_image(const std::string& hexPath);

// The simulated board laid out on the test root, its MCU loader behind
// dev/ttyHS0 for the flashing code in this process.
class LoaderPeer : public SimBoard {
public:
    explicit LoaderPeer(const TestRoot& root, LoaderFaults faults = LoaderFaults());
    // The flash image after the end packet, waited for when it is due; empty when it never came.
    std::string image(bool due) const;
};
