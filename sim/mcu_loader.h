#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Faults the scenario can ask of the loader, each at the data packet for that
// address (-1: never).
struct LoaderFaults {
    int resendAt = -1;  // drop that packet and ask for a resend (0x02)
    int refuseAt = -1;  // answer 0x03 instead of taking the packet
    int silentAt = -1;  // take the packet, then never answer again
    int resends = 1;    // how often resendAt is dropped; -1: every time
    bool together = false;  // the resend request and the next request go in one write
};

// The MCU's firmware loader as the simulated board plays it after "UPD\r\n":
// it asks for each block with 0x01, checks every 26-byte packet (start byte,
// length, word count, address, checksum), programs the words into a 64 KiB
// flash image that starts erased (0xFF; programming only clears bits), and
// stops at the end packet. After a refusal or falling silent it gives up too,
// as the MCU's watchdog would, and the MCU is back in its own firmware.
class McuLoader {
public:
    static constexpr size_t kImageSize = 0x10000;

    explicit McuLoader(LoaderFaults faults = LoaderFaults());

    // The first request, right after "UPD\r\n".
    std::vector<uint8_t> start();
    // Bytes from the daemon; the answers to send back, each on its own
    // (the daemon must have read one before the next is sent).
    std::vector<uint8_t> take(const std::string& bytes);

    // Answers from one take() go in one write rather than one by one.
    bool answers_together() const { return faults_.together; }
    // The exchange is over; flashed() when it ended with the end packet.
    bool finished() const { return finished_; }
    bool flashed() const { return flashed_; }
    const std::string& image() const { return image_; }
    // What the loader did, one readable line each, since the last call.
    std::vector<std::string> take_notes();

private:
    std::vector<uint8_t> take_packet(const uint8_t* packet);
    void note(const std::string& line) { notes_.push_back(line); }

    LoaderFaults faults_;
    std::string image_;
    std::string pending_;
    std::vector<std::string> notes_;
    bool finished_ = false;
    bool flashed_ = false;
    bool silent_ = false;
    int resent_ = 0;
};

// Writes the loader's answers to the MCU side of a pseudo-terminal, each only
// once the daemon side has read the one before (as a loader that waits
// between its answers), or all in one write.
void mcu_loader_send(int master, int slave, const std::vector<uint8_t>& answers, bool together = false);
