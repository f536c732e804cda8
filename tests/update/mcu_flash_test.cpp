#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_clock.h"
#include "tests/update/loader_peer.h"
#include "update/mcu_flash.h"
#include "sim/sim_files.h"

namespace {

const std::string kDebianHex = "/usr/share/arduino/hardware/arduino/avr/bootloaders/";

// "0108:0809FFFF...": each block's address and bytes as sent.
std::vector<std::string> blocks_of(const std::string& hex, int& result) {
    std::vector<std::string> blocks;
    result = hex_send_blocks(hex.data(), static_cast<uint16_t>(hex.size()), 0xFFFF,
                             [&](const FlashBlock& block) {
                                 char text[64];
                                 int at = std::snprintf(text, sizeof text, "%04X:", static_cast<unsigned>(block.address));
                                 for (int i = 0; i < block.length; ++i)
                                     at += std::snprintf(text + at, sizeof text - static_cast<size_t>(at), "%02X", block.data[i]);
                                 blocks.push_back(text);
                                 return 0;
                             });
    return blocks;
}

std::vector<uint8_t> counting(uint8_t from, int count) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) bytes.push_back(static_cast<uint8_t>(from + i));
    return bytes;
}

// What the refusal lets through; what it refuses never reaches the blocks.
TEST(HexBlocks, RecordsBecomeWordBlocks) {
    struct Case {
        const char* name;
        std::string hex;
        std::vector<std::string> blocks;
    };
    const Case cases[] = {
        {"carry sent alone before a far record", hex_record(0x0000, {1, 2, 3, 4, 5}) + hex_record(0x0020, {6}),
         {"0000:01020304", "0004:05FFFFFF", "0020:06FFFFFF"}},
        {"lower-case digits", ":02030000abcd7f\r\n", {"0300:ABCDFFFF"}},
        {"other record types skipped", hex_record(0, {0x12, 0x34}, 4) + hex_record(0x10, {1, 2, 3, 4}) + ":00000001FF\r\n",
         {"0010:01020304"}},
    };
    for (const auto& c : cases) {
        int result = -1;
        EXPECT_EQ(blocks_of(c.hex, result), c.blocks) << c.name;
        EXPECT_EQ(result, 0) << c.name;
    }
}

TEST(HexRefusal, FirmwareThatWouldBeFlashedWrongIsRefusedWhole) {
    const std::string good = hex_record(0x0100, {1, 2, 3, 4});
    std::string badChecksum = good;
    badChecksum[badChecksum.size() - 3] ^= 1;
    struct Case {
        const char* name;
        std::string hex;
        bool refused;
    };
    const Case cases[] = {
        {"plain", good + ":00000001FF\r\n", false},
        {"linear base 0", hex_record(0, {0, 0}, 4) + good + ":00000001FF\r\n", false},
        {"no end-of-file record", good, true},
        {"65536 bytes", good + std::string(0x10000 - good.size(), '\n'), true},
        {"wrong checksum", good + badChecksum, true},
        {"segment base 0x1000", hex_record(0, {0x01, 0x00}, 2) + good, true},
        {"past 0xFFFF", hex_record(0xFFFE, {1, 2, 3, 4}), true},
        {"17 data bytes", good + hex_record(0x200, counting(0, 17)), true},
        {"back into the carry", hex_record(0x0104, {1, 2, 3, 4, 5, 6}) + hex_record(0x0100, {7}), true},
        {"not hexadecimal", good + ":0201000012G4E7\r\n", true},
        {"cut short", good + ":0401000001", true},
        {"empty", "", true},
        {"no colon", "02000000ABCD\r\n", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hex_refusal(c.hex.data(), c.hex.size()).empty(), !c.refused) << c.name;
}

// mcu_flash against the board's loader, on the fake clock.
class Flashing : public ::testing::Test {
protected:
    int flash(const std::string& hex, LoaderFaults faults) {
        root.write("/usrdata/torvex-c1.a87", hex);
        LoaderPeer loader(root, faults);
        int result = mcu_flash();
        image = loader.image(result == 1);
        received = loader.mcu_received();
        return result;
    }
    TestRoot root;
    FakeClock clock;
    std::string image, received;
};

// What srec_cat refuses never reaches the loader.
TEST_F(Flashing, TheLoaderGetsWhatSrecCatReadsDespiteResends) {
    const std::string file = sim_read_file(kDebianHex + "atmega/ATmegaBOOT_168_atmega328.hex");
    // Out of address order, and the second record starts inside a word.
    const std::string outOfOrder =
        hex_record(0x0200, counting(0, 16)) + hex_record(0x0103, counting(16, 16)) + ":00000001FF\r\n";
    const std::string carried = hex_record(0x0100, counting(0, 10)) + hex_record(0x010A, counting(10, 16)) +
                                hex_record(0x0200, counting(0, 16)) + ":00000001FF\r\n";
    const std::pair<std::string, LoaderFaults> cases[] = {
        {file, {}}, {file, {0x7C00, -1, -1}}, {carried, {0x0200, -1, -1}}, {carried, {0x0108, -1, -1}},
        {outOfOrder, {0x0200, -1, -1}}, {carried, {0x0108, -1, -1, 1, true}},
        {sim_read_file(kDebianHex + "optiboot/optiboot_atmega328.hex"), {}},
    };
    for (const auto& [hex, faults] : cases) {
        root.write("/sent.hex", hex);
        const std::string reference = reference_image(root.path("/sent.hex"));
        EXPECT_EQ(flash(hex, faults), reference.empty() ? kFlashRefused : kFlashDone) << hex.substr(0, 9);
        EXPECT_TRUE(image == reference) << hex.substr(0, 9);
        EXPECT_EQ(received.empty(), reference.empty()) << "UPD sent: " << hex.substr(0, 9);
    }
}

TEST_F(Flashing, AnUnexpectedAnswerOrTenSecondsOfSilenceEndTheExchange) {
    const std::string hex = hex_record(0x0100, counting(0, 16)) + hex_record(0x0200, counting(0, 16)) + ":00000001FF\r\n";
    EXPECT_EQ(flash(hex, {-1, 0x0100, -1}), 0);
    EXPECT_EQ(flash(hex, {0x0200, -1, -1, -1}), 0);
    const uint64_t before = clock.monotonic_us();
    EXPECT_EQ(flash(hex, {-1, -1, 0x0100}), 0);
    EXPECT_GE(clock.monotonic_us() - before, 10000000u + 5000000u);
    EXPECT_EQ(image, "");
    for (const char* why : {"the loader answered 0x03", "the loader asked more than 10 times in a row for the block at 0x0200",
                            "no answer from the loader within 10 s"})
        EXPECT_NE(root.log().find(std::string(";update;2;MCU flash failed: ") + why), std::string::npos) << why;
}

TEST_F(Flashing, ARefusedFileNeverPutsTheMcuIntoItsLoader) {
    const std::string record = hex_record(0x0100, {1, 2, 3, 4});
    const std::pair<std::string, std::string> cases[] = {
        {hex_record(0, {0, 1}, 4) + record, "record 2 lies beyond 0xFFFF"},
        {record + hex_record(0x0102, {3, 5}), "record 2 gives 0x0103 a second, different value"},
        {record + ":00000001FF\r\n" + hex_record(0x0200, {1}), "record 3 is data after the end-of-file record"},
    };
    for (const auto& [hex, why] : cases) {
        EXPECT_EQ(flash(hex, {}), kFlashRefused) << why;
        EXPECT_EQ(received, "") << "no UPD: " << why;
        EXPECT_NE(root.log().find(";update;2;MCU firmware refused: " + why), std::string::npos)
            << why;
    }
}

}  // namespace
