#include "mcu_flash.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "clock_helpers.h"
#include "device_root.h"
#include "event_log.h"
#include "serial.h"
#include "time_seam.h"

namespace {

constexpr const char* kFirmwarePath = "/usrdata/torvex-c1.a87";
constexpr uint8_t kRecordDataMax = 16;
// ":" count(2) address(4) type(2) checksum(2)
constexpr size_t kRecordFrame = 11;
constexpr uint8_t kTypeData = 0x00;
constexpr uint8_t kTypeSegment = 0x02;
constexpr uint8_t kTypeLinear = 0x04;
constexpr uint32_t kAddressSpace = 0x10000;
constexpr uint8_t kWord = 4;
constexpr size_t kPacketSize = 26;
constexpr uint64_t kAnswerWait = 10000000;  // microseconds
constexpr unsigned kLoaderSettleSeconds = 5;

// The port of one flashing exchange and the block the loader got last.
int g_flashFd = -1;
uint16_t g_lastBlockAddress = 0;

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

struct HexRecord {
    uint8_t count;
    uint16_t address;
    uint8_t type;
    uint8_t data[255];
    uint8_t checksum;
};

enum class Decoded { kRecord, kNotRecord, kBroken };

// Reads the record that starts at `at`; kBroken when it is cut short or a
// field is not hexadecimal.
Decoded decode_record(const char* text, size_t length, size_t at, HexRecord& record) {
    if (at >= length || text[at] != ':') return Decoded::kNotRecord;
    size_t cursor = at + 1;
    auto next_byte = [&](uint8_t& value) {
        if (cursor + 2 > length) return false;
        int high = hex_digit(text[cursor]), low = hex_digit(text[cursor + 1]);
        if (high < 0 || low < 0) return false;
        value = static_cast<uint8_t>(high * 16 + low);
        cursor += 2;
        return true;
    };
    uint8_t high = 0, low = 0;
    if (!next_byte(record.count) || !next_byte(high) || !next_byte(low) || !next_byte(record.type))
        return Decoded::kBroken;
    record.address = static_cast<uint16_t>(high << 8 | low);
    for (uint8_t i = 0; i < record.count; ++i)
        if (!next_byte(record.data[i])) return Decoded::kBroken;
    return next_byte(record.checksum) ? Decoded::kRecord : Decoded::kBroken;
}

// Past the record's fields to the next ":" or the end of the text.
size_t next_record(const char* text, size_t length, size_t at, uint8_t count) {
    size_t cursor = at + kRecordFrame + 2u * count;
    while (cursor < length && text[cursor] != ':') ++cursor;
    return std::min(cursor, length);
}

bool checksum_matches(const HexRecord& record) {
    unsigned sum = record.count + (record.address >> 8) + (record.address & 0xFFu) + record.type +
                   record.checksum;
    for (uint8_t i = 0; i < record.count; ++i) sum += record.data[i];
    return (sum & 0xFFu) == 0;
}

// Turns records into word-aligned blocks; the 1 to 3 bytes after the last
// whole word wait as the carry for the next record.
class BlockBuilder {
public:
    BlockBuilder(uint16_t min_address, const BlockSender& send) : min_(min_address), send_(send) {}

    int add_record(uint16_t address, const uint8_t* data, uint8_t count) {
        if (carry_ && address > carry_->address + kWord) {
            int result = send_carry();
            if (result != 0) return result;
        }
        FlashBlock block = empty_block();
        if (carry_) {
            if (address < carry_->address) return 1;
            const uint32_t offset = address - carry_->address;
            if (offset + count > kFlashBlockMax) return 1;
            block.address = carry_->address;
            std::memcpy(block.data, carry_->data, kWord);
            std::memcpy(block.data + offset, data, count);
            block.length = static_cast<uint8_t>(std::max<uint32_t>(offset + count, carry_->length));
            carry_.reset();
        } else {
            const uint8_t shift = address % kWord;
            block.address = address - shift;
            std::memcpy(block.data + shift, data, count);
            block.length = static_cast<uint8_t>(shift + count);
        }
        return send_words(block);
    }

    int finish() { return carry_ ? send_carry() : 0; }

private:
    static FlashBlock empty_block() {
        FlashBlock block{};
        std::memset(block.data, 0xFF, sizeof block.data);
        return block;
    }

    int send(const FlashBlock& block) const { return block.address < min_ ? 0 : send_(block); }

    int send_carry() {
        FlashBlock block = *carry_;
        carry_.reset();
        block.length = kWord;
        return send(block);
    }

    int send_words(FlashBlock& block) {
        if (block.length < kWord) {
            block.length = kWord;
            return send(block);
        }
        const uint8_t whole = static_cast<uint8_t>(block.length & ~(kWord - 1));
        const uint8_t rest = static_cast<uint8_t>(block.length - whole);
        if (rest > 0) {
            FlashBlock carry = empty_block();
            carry.address = block.address + whole;
            carry.length = rest;
            std::memcpy(carry.data, block.data + whole, rest);
            carry_ = carry;
        }
        block.length = whole;
        std::memset(block.data + whole, 0xFF, kFlashBlockMax - whole);
        return send(block);
    }

    uint16_t min_;
    const BlockSender& send_;
    // Its length counts the real bytes; it goes out as one whole word.
    std::optional<FlashBlock> carry_;
};

// Waits for the loader's next answer byte, repeating while reads come back
// empty; false on a failed wait, a time-out or a port that reads nothing.
bool wait_answer(uint8_t& answer) {
    const uint64_t deadline = monotonic_us() + kAnswerWait;
    for (;;) {
        uint8_t buffer[16];
        int count = read_answer(buffer);
        if (count < 0) return false;
        if (count > 0) {
            answer = buffer[0];
            return true;
        }
        if (monotonic_us() >= deadline) return false;
        sleep_milliseconds(10);
    }
}

bool send_packet(const uint8_t (&packet)[kPacketSize]) {
    return serial_write(g_flashFd, packet, sizeof packet) == static_cast<ssize_t>(sizeof packet);
}

bool send_end_packet() {
    uint8_t packet[kPacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    packet[0] = 0x01;
    packet[1] = 0x00;
    return send_packet(packet);
}

// Plain reads, no more than the refusal needs: a file of 64 KiB or more is
// refused anyway, and a read error (a folder) is a result, not an exception.
bool read_file(const std::string& path, std::string& text) {
    return read_regular_file(path.c_str(), kAddressSpace, text);
}

// The flashing exchange's own opening of the MCU port, closed when it ends.
class FlashPort {
public:
    FlashPort() {
        g_flashFd = serial_open(device_path("/dev/ttyHS0").c_str(), kMcuSerial.baud, 0);
        serial_configure(g_flashFd, &kMcuSerial);
    }
    ~FlashPort() {
        if (g_flashFd >= 0) close(g_flashFd);
        g_flashFd = -1;
    }
    FlashPort(const FlashPort&) = delete;
    FlashPort& operator=(const FlashPort&) = delete;
};

int flash_text(const std::string& text) {
    FlashPort port;
    sleep_seconds(kLoaderSettleSeconds);
    serial_write(g_flashFd, "UPD\r\n", 5);
    const auto length = static_cast<uint16_t>(text.size());
    uint16_t start = 0;
    for (;;) {
        int result = hex_send_blocks(text.data(), length, start, 0xFFFF, send_block);
        if (result == 4) {
            start = g_lastBlockAddress;
            continue;
        }
        if (result != 0) return 0;
        uint8_t answer = 0;
        if (!wait_answer(answer)) return 0;
        if (answer == kLoaderReady) return send_end_packet() ? 1 : 0;
        if (answer != kLoaderResend) return 0;
        start = g_lastBlockAddress;
    }
}

}  // namespace

uint8_t flash_checksum(const uint8_t* bytes, uint8_t length) {
    unsigned sum = 0;
    for (uint8_t i = 0; i < length; ++i) sum += bytes[i];
    return static_cast<uint8_t>((sum & 0xFFu) ^ 0xFEu);
}

int hex_send_blocks(const char* text, uint16_t length, uint16_t min_address, uint16_t max_address,
                    const BlockSender& send_block) {
    if (text == nullptr || length == 0 || max_address < min_address || !send_block) return 2;
    if (text[0] != ':') return 3;
    BlockBuilder builder(min_address, send_block);
    for (size_t at = 0; at < length;) {
        HexRecord record;
        if (decode_record(text, length, at, record) != Decoded::kRecord) return 3;
        if (record.count > kRecordDataMax) return 3;
        if (record.type == kTypeData && record.address <= max_address) {
            int result = builder.add_record(record.address, record.data, record.count);
            if (result != 0) return result;
        }
        at = next_record(text, length, at, record.count);
    }
    return builder.finish();
}

std::string hex_refusal(const char* text, size_t length) {
    char why[96];
    if (length >= kAddressSpace) {
        std::snprintf(why, sizeof why, "%zu bytes is too long", length);
        return why;
    }
    if (text == nullptr || length == 0) return "the file is empty";
    uint32_t base = 0;
    unsigned number = 0;
    for (size_t at = 0; at < length;) {
        HexRecord record;
        ++number;
        Decoded decoded = decode_record(text, length, at, record);
        if (decoded == Decoded::kNotRecord) return "the text does not start with ':'";
        if (decoded == Decoded::kBroken) {
            std::snprintf(why, sizeof why, "record %u is cut short or not hexadecimal", number);
            return why;
        }
        const char* problem = nullptr;
        const uint32_t extended = record.count == 2 ? (record.data[0] << 8 | record.data[1]) : 0;
        if (record.count > kRecordDataMax)
            problem = "holds more than 16 data bytes";
        else if (!checksum_matches(record))
            problem = "has a wrong checksum";
        else if ((record.type == kTypeSegment || record.type == kTypeLinear) && record.count != 2)
            problem = "is not an address record";
        else if (record.type == kTypeSegment)
            base = extended << 4;
        else if (record.type == kTypeLinear)
            base = extended << 16;
        else if (record.type == kTypeData && base != 0)
            problem = "lies beyond 0xFFFF by an extended address";
        else if (record.type == kTypeData && record.address + record.count > kAddressSpace)
            problem = "runs past 0xFFFF";
        if (problem != nullptr) {
            std::snprintf(why, sizeof why, "record %u %s", number, problem);
            return why;
        }
        at = next_record(text, length, at, record.count);
    }
    const BlockSender discard = [](const FlashBlock&) { return 0; };
    if (hex_send_blocks(text, static_cast<uint16_t>(length), 0, 0xFFFF, discard) != 0)
        return "a record goes back into the block before it";
    return {};
}

int read_answer(uint8_t (&buffer)[16]) {
    if (g_flashFd < 0) return -2;
    int ready = wait_readable(g_flashFd, kAnswerWait);
    if (ready < 0) return -1;
    if (ready == 0) return -3;
    ssize_t last = -1;
    for (;;) {
        uint8_t piece[sizeof buffer] = {};
        ssize_t count = read(g_flashFd, piece, sizeof piece);
        if (count <= 0) break;
        // Older bytes are dropped: only the latest read counts.
        std::memcpy(buffer, piece, sizeof buffer);
        last = count;
        if (count != static_cast<ssize_t>(sizeof piece)) break;
    }
    if (last < 0) {
        std::memset(buffer, 0, sizeof buffer);
        return -4;
    }
    return static_cast<int>(last);
}

int send_block(const FlashBlock& block) {
    uint8_t answer = 0;
    if (!wait_answer(answer)) return 1;
    if (answer == kLoaderResend) return 4;
    if (answer != kLoaderReady || block.length > kFlashBlockMax) return 1;
    uint8_t packet[kPacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    packet[0] = 0x01;
    packet[1] = 0x18;
    packet[2] = static_cast<uint8_t>(block.address >> 8);
    packet[3] = static_cast<uint8_t>(block.address);
    packet[4] = static_cast<uint8_t>(block.length / kWord);
    std::memcpy(packet + 5, block.data, block.length);
    packet[25] = flash_checksum(packet + 2, 23);
    g_lastBlockAddress = static_cast<uint16_t>(block.address);
    return send_packet(packet) ? 0 : 1;
}

int mcu_flash() {
    std::string text;
    if (!read_file(device_path(kFirmwarePath), text)) return 0;
    std::string why = hex_refusal(text.data(), text.size());
    if (!why.empty()) {
        log_event("update", 2, "MCU firmware refused: %s", why.c_str());
        return 0;
    }
    return flash_text(text);
}
