#include "sim/mcu_loader.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <tuple>

namespace {

constexpr size_t kPacketSize = 26;
constexpr uint8_t kReady = 0x01;
constexpr uint8_t kResend = 0x02;
constexpr uint8_t kRefuse = 0x03;
constexpr int kWordsMax = 5;

std::string hex16(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// The loader's own checksum: the 23 bytes from the address on, summed, ^ 0xFE.
uint8_t packet_checksum(const uint8_t* packet) {
    unsigned sum = 0;
    for (size_t i = 2; i < 25; ++i) sum += packet[i];
    return static_cast<uint8_t>((sum & 0xFFu) ^ 0xFEu);
}

bool all_erased(const uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != 0xFF) return false;
    return true;
}

}  // namespace

McuLoader::McuLoader(LoaderFaults faults) : faults_(faults), image_(kImageSize, '\xFF') {}

std::vector<uint8_t> McuLoader::start() {
    note("MCU loader: ready");
    return {kReady};
}

std::vector<uint8_t> McuLoader::take(const std::string& bytes) {
    std::vector<uint8_t> answers;
    pending_ += bytes;
    size_t used = 0;
    while (!finished_ && pending_.size() - used >= kPacketSize) {
        auto packet = reinterpret_cast<const uint8_t*>(pending_.data() + used);
        used += kPacketSize;
        for (uint8_t answer : take_packet(packet))
            if (!silent_) answers.push_back(answer);
    }
    pending_.erase(0, used);
    return answers;
}

std::vector<uint8_t> McuLoader::take_packet(const uint8_t* packet) {
    if (packet[0] == 0x01 && packet[1] == 0x00 && all_erased(packet + 2, kPacketSize - 2)) {
        finished_ = flashed_ = true;
        note("MCU loader: end packet, flash image written");
        return {};
    }
    const unsigned address = static_cast<unsigned>(packet[2] << 8 | packet[3]);
    const int words = packet[4];
    std::string problem;
    if (packet[0] != 0x01 || packet[1] != 0x18)
        problem = "not a data packet";
    else if (packet[25] != packet_checksum(packet))
        problem = "wrong checksum";
    else if (words < 1 || words > kWordsMax || address % 4 != 0 || address + 4u * words > kImageSize)
        problem = "bad length or address";
    if (!problem.empty()) {
        note("MCU loader: " + problem + " at " + hex16(address) + ", refused");
        finished_ = true;
        return {kRefuse};
    }
    const std::string where = "packet " + hex16(address) + ", " + std::to_string(words) + " words";
    if (static_cast<int>(address) == faults_.resendAt && (faults_.resends < 0 || resent_ < faults_.resends)) {
        ++resent_;
        note("MCU loader: " + where + " dropped, asks for a resend");
        return {kResend, kReady};
    }
    if (static_cast<int>(address) == faults_.refuseAt) {
        note("MCU loader: " + where + ", answers 0x03");
        finished_ = true;
        return {kRefuse};
    }
    for (int i = 0; i < 4 * words; ++i) image_[address + static_cast<unsigned>(i)] &= static_cast<char>(packet[5 + i]);
    note("MCU loader: " + where);
    if (static_cast<int>(address) == faults_.silentAt) {
        silent_ = finished_ = true;
        note("MCU loader: falls silent");
    }
    return {kReady};
}

std::vector<std::string> McuLoader::take_notes() {
    std::vector<std::string> notes;
    notes.swap(notes_);
    return notes;
}

namespace {

int waiting_bytes(int slave) {
    int waiting = 0;
    return ioctl(slave, FIONREAD, &waiting) == 0 ? waiting : 0;
}

// Polls `done` every millisecond for at most `limit` milliseconds.
template <typename Done>
void wait_until(Done done, int limit) {
    for (int waited = 0; waited < limit && !done(); ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

void mcu_loader_send(int master, int slave, const std::vector<uint8_t>& answers, bool together) {
    if (together) {
        if (!answers.empty()) std::ignore = write(master, answers.data(), answers.size());
        return;
    }
    for (size_t i = 0; i < answers.size(); ++i) {
        if (write(master, &answers[i], 1) != 1) return;
        if (i + 1 == answers.size()) break;
        // The terminal hands the byte over a little later; then the daemon reads it.
        wait_until([&] { return waiting_bytes(slave) > 0; }, 100);
        wait_until([&] { return waiting_bytes(slave) == 0; }, 2000);
    }
}
