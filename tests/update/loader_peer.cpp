#include "tests/update/loader_peer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "sim/sim_files.h"

std::string hex_record(uint16_t address, const std::vector<uint8_t>& bytes, uint8_t type) {
    std::vector<uint8_t> fields{static_cast<uint8_t>(bytes.size()), static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address), type};
    fields.insert(fields.end(), bytes.begin(), bytes.end());
    unsigned sum = 0;
    std::string text = ":";
    char pair[3];
    for (uint8_t byte : fields) {
        sum += byte;
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return text + pair + "\r\n";
}

std::string reference_image(const std::string& hexPath) {
    std::string out = hexPath + ".bin";
    std::string command = "srec_cat " + hexPath + " -Intel -fill 0xFF 0x0000 0x10000 -o " + out + " -Binary";
    if (std::system(command.c_str()) != 0) return {};
    return sim_read_file(out);
}

namespace {

SimBoard::Options on_root(const TestRoot& root, LoaderFaults faults) {
    // The ports of a board before this one are still linked there.
    std::filesystem::remove_all(root.path("/dev"));
    std::filesystem::remove(root.path("/sim/mcu_flash.bin"));
    SimBoard::Options options;
    options.root = root.root();
    options.loaderFaults = faults;
    return options;
}

}  // namespace

LoaderPeer::LoaderPeer(const TestRoot& root, LoaderFaults faults) : SimBoard(on_root(root, faults)) {}

std::string LoaderPeer::image(bool due) const {
    // The board writes the image once its reader has taken the end packet.
    for (int tries = 0; due && tries < 250 && !std::filesystem::exists(path("/sim/mcu_flash.bin")); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return read_file("/sim/mcu_flash.bin");
}
