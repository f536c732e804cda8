#include "update/mcu_flash.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "core/clock_helpers.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "mcu/serial.h"
#include "core/time_seam.h"

namespace {

constexpr const char* kFirmwarePath = "/usrdata/torvex-c1.a87";
constexpr uint8_t kRecordDataMax = 16;
// ":" count(2) address(4) type(2) checksum(2)
constexpr size_t kRecordFrame = 11;
constexpr uint8_t kTypeData = 0x00;
constexpr uint8_t kTypeEnd = 0x01;
constexpr uint8_t kTypeSegment = 0x02;
constexpr uint8_t kTypeLinear = 0x04;
constexpr uint32_t kAddressSpace = 0x10000;
constexpr uint8_t kWord = 4;
constexpr size_t kPacketSize = 26;
constexpr uint64_t kAnswerWait = 10000000;  // microseconds
constexpr unsigned kLoaderSettleSeconds = 5;
// More resend requests than this for one block, one after another, end the flash.
constexpr int kResendsInARowMax = 10;

// One flashing exchange: its port, answer bytes read but not yet used (the
// loader's answers may arrive together), and why it failed.
struct FlashExchange {
    int fd = -1;
    std::string answers;
    uint16_t lastBlockAddress = 0;
    std::string failure;
};
FlashExchange g_exchange;

void fail(const std::string& why) {
    if (g_exchange.failure.empty()) g_exchange.failure = why;
}

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

// Follows a text's records as the loader would program them: the base an
// address record sets, whether the end-of-file record came, and the value
// each address was given.
class RecordCheck {
public:
    bool ended() const { return ended_; }
    // What keeps the next record from being flashed as it reads; empty when nothing.
    std::string problem(const HexRecord& record) {
        if (record.count > kRecordDataMax) return "holds more than 16 data bytes";
        if (!checksum_matches(record)) return "has a wrong checksum";
        switch (record.type) {
            case kTypeData: return data_problem(record);
            case kTypeEnd:
                ended_ = true;
                return {};
            case kTypeSegment:
            case kTypeLinear: return address_problem(record);
            default: return {};
        }
    }

private:
    std::string address_problem(const HexRecord& record) {
        if (record.count != 2) return "is not an address record";
        const uint32_t extended = static_cast<uint32_t>(record.data[0] << 8 | record.data[1]);
        base_ = record.type == kTypeSegment ? extended << 4 : extended << 16;
        return {};
    }

    std::string data_problem(const HexRecord& record) {
        if (ended_) return "is data after the end-of-file record";
        if (base_ != 0) return "lies beyond 0xFFFF by an extended address";
        if (record.address + record.count > kAddressSpace) return "runs past 0xFFFF";
        for (uint8_t i = 0; i < record.count; ++i) {
            const uint32_t address = record.address + i;
            // The loader would program the AND of both values.
            if (given_[address] && image_[address] != record.data[i]) {
                char why[48];
                std::snprintf(why, sizeof why, "gives 0x%04X a second, different value",
                              static_cast<unsigned>(address));
                return why;
            }
            given_[address] = true;
            image_[address] = record.data[i];
        }
        return {};
    }

    uint32_t base_ = 0;
    bool ended_ = false;
    std::vector<bool> given_ = std::vector<bool>(kAddressSpace);
    std::vector<uint8_t> image_ = std::vector<uint8_t>(kAddressSpace);
};

// Turns records into word-aligned blocks; the 1 to 3 bytes after the last
// whole word wait as the carry for the next record.
class BlockBuilder {
public:
    explicit BlockBuilder(const BlockSender& send) : send_(send) {}

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

    int send_carry() {
        FlashBlock block = *carry_;
        carry_.reset();
        block.length = kWord;
        return send_(block);
    }

    int send_words(FlashBlock& block) {
        if (block.length < kWord) {
            block.length = kWord;
            return send_(block);
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
        return send_(block);
    }

    const BlockSender& send_;
    // Its length counts the real bytes; it goes out as one whole word.
    std::optional<FlashBlock> carry_;
};

// The loader's next answer byte: one read earlier and not used yet, or the
// first of the next read, waiting while reads come back empty. False on a
// failed wait, a time-out or a port that reads nothing.
bool wait_answer(uint8_t& answer) {
    const uint64_t deadline = monotonic_us() + kAnswerWait;
    while (g_exchange.answers.empty()) {
        uint8_t buffer[16];
        int count = read_answer(buffer);
        if (count < 0) {
            fail(count == -3 ? "no answer from the loader within 10 s" : "the MCU port cannot be read");
            return false;
        }
        g_exchange.answers.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(count));
        if (count > 0) break;
        if (monotonic_us() >= deadline) {
            fail("no answer from the loader within 10 s");
            return false;
        }
        sleep_milliseconds(10);
    }
    answer = static_cast<uint8_t>(g_exchange.answers.front());
    g_exchange.answers.erase(0, 1);
    return true;
}

void fail_on_answer(uint8_t answer) {
    char why[48];
    std::snprintf(why, sizeof why, "the loader answered 0x%02X", answer);
    fail(why);
}

bool send_packet(const uint8_t (&packet)[kPacketSize]) {
    if (serial_write(g_exchange.fd, packet, sizeof packet) == static_cast<ssize_t>(sizeof packet)) return true;
    fail("the MCU port cannot be written");
    return false;
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
        g_exchange = FlashExchange{};
        g_exchange.fd = serial_open(device_path("/dev/ttyHS0").c_str(), kMcuSerial.baud, 0);
        serial_configure(g_exchange.fd, &kMcuSerial);
    }
    ~FlashPort() {
        if (g_exchange.fd >= 0) close(g_exchange.fd);
        g_exchange.fd = -1;
    }
    FlashPort(const FlashPort&) = delete;
    FlashPort& operator=(const FlashPort&) = delete;
};

// Reads the text again and sends its blocks from position `first` on;
// `last_sent` becomes the position of the last block the loader got. A resend
// goes by position, not address: records out of address order would
// otherwise have blocks below the resent one skipped.
int send_blocks_from(const std::string& text, unsigned first, unsigned& last_sent) {
    unsigned position = 0;
    return hex_send_blocks(text.data(), static_cast<uint16_t>(text.size()), 0xFFFF, [&](const FlashBlock& block) {
        const unsigned at = position++;
        if (at < first) return 0;
        const int result = send_block(block);
        if (result == 0) last_sent = at;
        return result;
    });
}

// The loader asked for the last block sent again; false (and the flash
// failed) when it has asked for that block too often in a row.
bool resend_allowed(unsigned position, unsigned& resendPosition, int& resendsInARow) {
    resendsInARow = position == resendPosition ? resendsInARow + 1 : 1;
    resendPosition = position;
    if (resendsInARow <= kResendsInARowMax) return true;
    char why[80];
    std::snprintf(why, sizeof why, "the loader asked more than %d times in a row for the block at 0x%04X",
                  kResendsInARowMax, static_cast<unsigned>(g_exchange.lastBlockAddress));
    fail(why);
    return false;
}

// 1 when the loader took every block and the end packet; 0 with the failure noted.
int flash_text(const std::string& text) {
    FlashPort port;
    sleep_seconds(kLoaderSettleSeconds);
    serial_write(g_exchange.fd, "UPD\r\n", 5);
    unsigned first = 0, last_sent = 0, resendPosition = UINT_MAX;
    int resendsInARow = 0;
    for (;; first = last_sent) {
        const int result = send_blocks_from(text, first, last_sent);
        if (result != 0 && result != 4) return 0;
        if (result == 0) {
            uint8_t answer = 0;
            if (!wait_answer(answer)) return 0;
            if (answer == kLoaderReady) return send_end_packet() ? 1 : 0;
            if (answer != kLoaderResend) {
                fail_on_answer(answer);
                return 0;
            }
        }
        if (!resend_allowed(last_sent, resendPosition, resendsInARow)) return 0;
    }
}

}  // namespace

uint8_t flash_checksum(const uint8_t* bytes, uint8_t length) {
    unsigned sum = 0;
    for (uint8_t i = 0; i < length; ++i) sum += bytes[i];
    return static_cast<uint8_t>((sum & 0xFFu) ^ 0xFEu);
}

int hex_send_blocks(const char* text, uint16_t length, uint16_t max_address, const BlockSender& send_block) {
    if (text == nullptr || length == 0 || !send_block) return 2;
    if (text[0] != ':') return 3;
    BlockBuilder builder(send_block);
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
    if (length >= kAddressSpace) return std::to_string(length) + " bytes is too long";
    if (text == nullptr || length == 0) return "the file is empty";
    RecordCheck check;
    unsigned number = 0;
    for (size_t at = 0; at < length;) {
        HexRecord record;
        ++number;
        Decoded decoded = decode_record(text, length, at, record);
        if (decoded == Decoded::kNotRecord) return "the text does not start with ':'";
        const std::string problem =
            decoded == Decoded::kBroken ? "is cut short or not hexadecimal" : check.problem(record);
        if (!problem.empty()) return "record " + std::to_string(number) + " " + problem;
        at = next_record(text, length, at, record.count);
    }
    // A file cut short (a power cut while it was written) lacks its last record.
    if (!check.ended()) return "the end-of-file record is missing";
    const BlockSender discard = [](const FlashBlock&) { return 0; };
    if (hex_send_blocks(text, static_cast<uint16_t>(length), 0xFFFF, discard) != 0)
        return "a record goes back into the block before it";
    return {};
}

int read_answer(uint8_t (&buffer)[16]) {
    std::memset(buffer, 0, sizeof buffer);
    if (g_exchange.fd < 0) return -2;
    int ready = wait_readable(g_exchange.fd, kAnswerWait);
    if (ready < 0) return -1;
    if (ready == 0) return -3;
    // What does not fit stays in the port for the next read.
    ssize_t count = read(g_exchange.fd, buffer, sizeof buffer);
    return count > 0 ? static_cast<int>(count) : -4;
}

int send_block(const FlashBlock& block) {
    uint8_t answer = 0;
    if (!wait_answer(answer)) return 1;
    if (answer == kLoaderResend) return 4;
    if (answer != kLoaderReady) {
        fail_on_answer(answer);
        return 1;
    }
    if (block.length > kFlashBlockMax) return 1;
    uint8_t packet[kPacketSize];
    std::memset(packet, 0xFF, sizeof packet);
    packet[0] = 0x01;
    packet[1] = 0x18;
    packet[2] = static_cast<uint8_t>(block.address >> 8);
    packet[3] = static_cast<uint8_t>(block.address);
    packet[4] = static_cast<uint8_t>(block.length / kWord);
    std::memcpy(packet + 5, block.data, block.length);
    packet[25] = flash_checksum(packet + 2, 23);
    g_exchange.lastBlockAddress = static_cast<uint16_t>(block.address);
    return send_packet(packet) ? 0 : 1;
}

int mcu_flash() {
    std::string text;
    if (!read_file(device_path(kFirmwarePath), text)) return kFlashRefused;
    std::string why = hex_refusal(text.data(), text.size());
    if (!why.empty()) {
        log_event("update", 2, "MCU firmware refused: %s", why.c_str());
        return kFlashRefused;
    }
    if (flash_text(text) == 1) return kFlashDone;
    log_event("update", 2, "MCU flash failed: %s",
              g_exchange.failure.empty() ? "the exchange broke off" : g_exchange.failure.c_str());
    return kFlashFailed;
}
