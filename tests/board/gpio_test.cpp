// GPIO lines under a device root, with the simulated board playing sysfs.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <functional>
#include <fstream>

#include "board/board_gpio.h"
#include "tests/support/fake_clock.h"
#include "board/gpio.h"
#include "sim/modem_board.h"
#include "tests/support/test_root.h"

namespace {

namespace fs = std::filesystem;

// A root whose sysfs answers export writes, as on the board (real clock: the
// board's answer takes a few milliseconds).
class Gpio : public ::testing::Test {
protected:
    Gpio() { board_.lay_out(root_.root()); }
    std::string attribute(int gpio, const char* name) const {
        std::string text = root_.read("/sys/class/gpio/gpio" + std::to_string(gpio) + "/" + name);
        return text.substr(0, text.find('\n'));
    }
    // The configuration word of a SoC GPIO number in the board's dev/mem.
    uint32_t word(int gpio, const uint32_t* set = nullptr) const {
        std::fstream mem(root_.path("/dev/mem"), std::ios::binary | std::ios::in | std::ios::out);
        mem.seekp(0x01000000 + 0x1000 * gpio);
        uint32_t value = set ? *set : 0;
        if (set) mem.write(reinterpret_cast<const char*>(&value), sizeof value);
        else mem.read(reinterpret_cast<char*>(&value), sizeof value);
        return value;
    }
    std::string printed(const std::function<void()>& action) const {
        testing::internal::CaptureStdout();
        action();
        return testing::internal::GetCapturedStdout();
    }
    TestRoot root_;
    ModemBoard board_;
};

TEST_F(Gpio, LinesAreExportedDirectedAndDriven) {
    ASSERT_EQ(gpio_setup(41, 1, 1, 0), 0);
    EXPECT_EQ(root_.read("/sys/class/gpio/export").substr(0, 1), "7");
    EXPECT_EQ(attribute(7, "direction"), "out");
    EXPECT_EQ(attribute(7, "value"), "1");
    ASSERT_EQ(gpio_setup(24, 0, 0, 0), 0);
    EXPECT_EQ(attribute(76, "direction"), "in");
    EXPECT_EQ(attribute(76, "value"), "1") << "an input's level is left to the board";
    root_.write("/sys/class/gpio/export", "untouched");
    ASSERT_EQ(gpio_setup(41, 1, 0, 0), 0);
    EXPECT_EQ(root_.read("/sys/class/gpio/export"), "untouched") << "an exported pin skips it";
    EXPECT_EQ(attribute(7, "value"), "0");
    fs::remove(root_.path("/sys/class/gpio/gpio7/direction"));
    EXPECT_EQ(printed([] { EXPECT_EQ(gpio_setup(41, 1, 0, 0), kGpioNoAttribute); }),
              "GpioSysfs_WriteDirection, PIN: 41, dir:1, -1\n");
}

TEST(GpioWithoutBoard, ExportNobodyAnswersFailsAfterASecond) {
    TestRoot root;
    FakeClock clock;
    root.write("/sys/class/gpio/export", "");
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpio_setup(6, 0, 0, 0), kGpioFailed);  // a pin without a pull register
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GpioSysfs_ExportGpio, PIN:6, ret: -3\n");
    EXPECT_EQ(clock.slept_us(), 1'000'000u);
}

TEST_F(Gpio, PullSelectionReplacesOnlyTheTwoLowBits) {
    struct Case {
        uint32_t pin, before, pull, after;
        int gpio;
    };
    const Case cases[] = {{41, 0xABCD1235, 2, 0xABCD1236, 7}, {2, 0xFFFFFFFF, 0, 0xFFFFFFFC, 10},
                          {144, 0x3, 1, 0x1, 52}, {1, 0x10, 6, 0x12, 25}};
    const uint32_t neighbour = 0x5A5A5A5A;
    for (const Case& c : cases) {
        word(c.gpio, &c.before);
        word(c.gpio + 1, &neighbour);
        ASSERT_EQ(gpio_pull_select(c.pin, c.pull), 0) << c.pin;
        EXPECT_EQ(word(c.gpio), c.after) << c.pin;
        EXPECT_EQ(word(c.gpio + 1), neighbour) << "the next pin's page stays";
    }
    fs::remove(root_.path("/dev/mem"));
    EXPECT_EQ(gpio_pull_select(6, 1), kGpioUnsupported) << "no register for the last rows";
    EXPECT_EQ(printed([] { EXPECT_EQ(gpio_setup(2, 0, 0, 0), kGpioFailed); }),
              "cannot open /dev/memPullselection setup PIN: 2, ret: -3\n");
}

TEST_F(Gpio, BoardLinesRevisionAndSimSelection) {
    board_gpio_init();
    const std::pair<int, const char*> lines[] = {{10, "in"}, {22, "out"}, {7, "out"}, {76, "in"},
                                                 {21, "in"}, {42, "in"},  {11, "in"}};
    for (const auto& [gpio, direction] : lines) EXPECT_EQ(attribute(gpio, "direction"), direction);
    EXPECT_EQ(attribute(7, "value") + attribute(22, "value"), "00");
    EXPECT_FALSE(root_.exists("/media/sdcard/log.txt"));
    // REV ID 1 to 4 are SoC GPIO 76, 21, 42, 11; an unreadable line counts as 0.
    const std::pair<std::array<const char*, 4>, int> straps[] = {
        {{"0", "1", "0", "0"}, 3}, {{"0", "0", "0", "0"}, 1}, {{"1", "1", "1", "1"}, 16},
        {{"1", "0", "0", "1"}, 10}, {{"", "1", "", ""}, 3}};
    for (const auto& [levels, revision] : straps) {
        const int gpios[] = {76, 21, 42, 11};
        for (int bit = 0; bit < 4; ++bit)
            root_.write("/sys/class/gpio/gpio" + std::to_string(gpios[bit]) + "/value", levels[bit]);
        EXPECT_EQ(board_revision(), revision);
    }
    const std::pair<int, const char*> selections[] = {{1, "11"}, {0, "00"}, {2, "11"}, {-1, "11"}};
    for (const auto& c : selections) {
        sim_gpio_select(c.first);
        EXPECT_EQ(attribute(7, "value") + attribute(22, "value"), c.second) << c.first;
    }
}

TEST(GpioWithoutBoard, UnreadableStrapsCountAsZeroAndEveryLineIsLogged) {
    TestRoot root;
    FakeClock clock;
    testing::internal::CaptureStdout();
    board_gpio_init();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(board_revision(), 1);
    const std::string log = root.log();
    for (const char* role : {"SD Card Busy", "Sims control tmp", "Sims control", "REV ID 1",
                             "REV ID 2", "REV ID 3", "REV ID 4"})
        EXPECT_NE(log.find(std::string(";gpio;2;Error GPIO (") + role + ") - -3"), std::string::npos)
            << role;
}

}  // namespace
