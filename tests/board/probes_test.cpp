// Temperature from the ADC and the SD card's space.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/config.h"
#include "sim/modem_board.h"
#include "board/probes.h"
#include "tests/support/test_root.h"

namespace {

namespace fs = std::filesystem;

class Probes : public ::testing::Test {
protected:
    Probes() { board_.lay_out(root_.root()); }
    TestRoot root_;
    ModemBoard board_;
};

struct TemperatureCase {
    int millivolts;
    int celsius;
};

// Count = floor(mV / 3800 x 1023); the table is searched with count + 20.
TEST_F(Probes, TemperatureTableResults) {
    const TemperatureCase cases[] = {
        {391, 50},    // value 125, row 81
        {394, 40},    // value 126
        {812, 27},    // value 238
        {1735, 0},    // value 487
        {1739, -1},   // value 488
        {3199, -39},  // value 881, row 1
        {3202, 99},   // value 882: beyond row 1
    };
    for (const TemperatureCase& c : cases) {
        modem_board_set_adc(root_.root(), c.millivolts);
        EXPECT_EQ(board_temperature(), c.celsius) << c.millivolts << " mV";
    }
    const std::string log = root_.log();
    EXPECT_NE(log.find(";adc;0;Temperature: 0C\r\n"), std::string::npos);
    EXPECT_NE(log.find(";adc;0;Temperature: -1C\r\n"), std::string::npos);
    // A missing sensor is reported as unknown, not as warm.
    modem_board_set_adc(root_.root(), -1);
    EXPECT_EQ(board_temperature(), kTemperatureUnknown);
    EXPECT_NE(root_.log().find(";adc;2;Temperature sensor not readable"), std::string::npos);
}

TEST(ProbesWithoutBoard, CardSpace) {
    EXPECT_EQ(storage_mib(4096, 262144), 1024);
    EXPECT_EQ(storage_mib(512, 1024 * 2047), 1023);
    TestRoot root;
    EXPECT_GT(sd_available_mib(), 0);
    EXPECT_EQ(g_config.sdAvailableMiB, sd_available_mib());
    g_config.sdAvailableMiB = 77;
    g_config.sdUsedMiB = 88;
    fs::remove_all(root.path("/media/sdcard"));
    EXPECT_EQ(sd_available_mib(), 0);
    EXPECT_EQ(sd_used_mib(), 0);
    EXPECT_EQ(g_config.sdAvailableMiB, 77) << "kept when the card cannot be queried";
    EXPECT_EQ(g_config.sdUsedMiB, 88);
}

}  // namespace
