#include "loader_peer.h"

#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "sim_files.h"

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

LoaderPeer::LoaderPeer(const TestRoot& root, LoaderFaults faults) : loader_(faults) {
    std::filesystem::create_directories(root.path("/dev"));
    std::filesystem::remove(root.path("/dev/ttyHS0"));
    std::filesystem::create_symlink(ptsname(pty_.peer_side()), root.path("/dev/ttyHS0"));
    thread_ = std::thread(&LoaderPeer::run, this);
}

LoaderPeer::~LoaderPeer() { finish(); }

std::string LoaderPeer::finish() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return loader_.flashed() ? loader_.image() : std::string();
}

void LoaderPeer::run() {
    std::string before;
    while (!loader_.finished()) {
        pollfd p{pty_.peer_side(), POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) {
            if (stop_) break;
            continue;
        }
        char buffer[512];
        ssize_t n = read(pty_.peer_side(), buffer, sizeof buffer);
        if (n <= 0) continue;
        std::string bytes(buffer, static_cast<size_t>(n));
        if (!inLoader_) {
            before += bytes;
            size_t update = before.find("UPD\r\n");
            if (update == std::string::npos) continue;
            inLoader_ = true;
            mcu_loader_send(pty_.peer_side(), pty_.daemon_side(), loader_.start());
            bytes = before.substr(update + 5);
        }
        mcu_loader_send(pty_.peer_side(), pty_.daemon_side(), loader_.take(bytes));
    }
}
