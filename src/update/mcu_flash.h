#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Flashes the MCU over its serial line: "UPD\r\n" puts it into its loader,
// which then asks for the program block by block (one answer byte per block)
// in 26-byte packets of 32-bit words, and may ask to resend from the last block.

// The largest block a packet carries, in bytes.
constexpr uint8_t kFlashBlockMax = 20;

// One block of words for the loader: `address` and `length` are multiples of 4.
struct FlashBlock {
    uint8_t length;
    uint32_t address;
    uint8_t data[kFlashBlockMax];
};

// Sends one block; 0 sent, anything else ends the reading with that result.
using BlockSender = std::function<int(const FlashBlock&)>;

// Answers from the MCU's loader.
constexpr uint8_t kLoaderReady = 0x01;
constexpr uint8_t kLoaderResend = 0x02;

// Reads the Intel HEX text into blocks, in text order, and hands each to
// `send_block`; records above max_address are skipped. The same text always
// gives the same blocks in the same order, so a resend can count them.
//   0 every block was sent
//   1 a record goes back into the carry or a block would exceed 20 bytes
//   2 bad arguments
//   3 syntax error (no ":", a count above 16, a record cut short or not hex)
//   other: the first result of send_block other than 0
int hex_send_blocks(const char* text, uint16_t length, uint16_t max_address, const BlockSender& send_block);

// Why the text would not be flashed as it reads (too long for a 16-bit
// length, a record that does not decode, a wrong checksum, data placed above
// 0xFFFF by an extended address, data records giving one address two
// different values or coming after the end-of-file record, no end-of-file
// record, a record the sender stops at); empty when it can be flashed.
std::string hex_refusal(const char* text, size_t length);

// Waits for the loader's request, then sends the block in a data packet:
// 0 sent, 4 the loader asked for a resend, 1 any other answer, a failed wait
// or a block longer than 20 bytes. Answer bytes that arrived together are
// used one after another.
int send_block(const FlashBlock& block);

// Waits up to 10 seconds for the loader, then reads up to 16 bytes into the
// zeroed buffer; more stay in the port for the next read. The count, or -1
// wait failed, -2 port not open, -3 time-out, -4 nothing readable.
int read_answer(uint8_t (&buffer)[16]);

// Sum modulo 256, exclusive-or 0xFE.
uint8_t flash_checksum(const uint8_t* bytes, uint8_t length);

// Flashes /usrdata/torvex-c1.a87. kFlashDone when the loader took the whole
// program and the end packet; kFlashFailed when the exchange broke off (no
// answer within 10 s, an unexpected answer, more than 10 resend requests in a
// row for one block), logged as "MCU flash failed: <why>"; kFlashRefused when
// the file cannot be read or hex_refusal refuses it (logged, and the MCU never
// enters its loader).
constexpr int kFlashDone = 1;
constexpr int kFlashFailed = 0;
constexpr int kFlashRefused = -1;
int mcu_flash();
