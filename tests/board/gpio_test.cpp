// GPIO lines under a device root, with the simulated board playing sysfs.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "board_gpio.h"
#include "fake_clock.h"
#include "gpio.h"
#include "modem_board.h"
#include "test_root.h"

namespace {

namespace fs = std::filesystem;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// A root whose sysfs answers export writes, as on the board. The real clock:
// the board's answer takes a few milliseconds.
class Gpio : public ::testing::Test {
protected:
    Gpio() { board_.lay_out(root_.root()); }

    std::string attribute(int gpio, const char* name) const {
        return trimmed(root_.read("/sys/class/gpio/gpio" + std::to_string(gpio) + "/" + name));
    }
    void set_value(int gpio, const std::string& level) const {
        root_.write("/sys/class/gpio/gpio" + std::to_string(gpio) + "/value", level + "\n");
    }
    // The configuration word of a SoC GPIO number in the board's dev/mem.
    uint32_t word(int gpio) const {
        std::ifstream mem(root_.path("/dev/mem"), std::ios::binary);
        mem.seekg(0x01000000 + 0x1000 * gpio);
        uint32_t value = 0;
        mem.read(reinterpret_cast<char*>(&value), sizeof value);
        return value;
    }
    void set_word(int gpio, uint32_t value) const {
        std::fstream mem(root_.path("/dev/mem"), std::ios::binary | std::ios::in | std::ios::out);
        mem.seekp(0x01000000 + 0x1000 * gpio);
        mem.write(reinterpret_cast<const char*>(&value), sizeof value);
    }

    TestRoot root_;
    ModemBoard board_;
};

struct UnsupportedCase {
    uint32_t pin;
    const char* printed;
};

TEST_F(Gpio, PinsOutsideTheTableAreRefused) {
    const UnsupportedCase cases[] = {{7, "Not support Pin 7\n"}, {0, "Not support Pin 0\n"},
                                     {140, "Not support Pin 140\n"}, {145, ""}, {150, ""}};
    for (const UnsupportedCase& c : cases) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(gpio_setup(c.pin, 0, 0, 0), kGpioUnsupported) << c.pin;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    }
    EXPECT_EQ(gpio_get(150), kGpioUnsupported);
    EXPECT_EQ(gpio_set(7, 1), kGpioUnsupported);
    ASSERT_NE(gpio_pin_lookup(118), nullptr);
    EXPECT_STREQ(gpio_pin_lookup(118)->name, "gpio1023");
}

TEST_F(Gpio, OutputIsExportedDirectedAndDriven) {
    ASSERT_EQ(gpio_setup(41, 1, 1, 0), 0);
    EXPECT_EQ(trimmed(root_.read("/sys/class/gpio/export")), "7");
    EXPECT_EQ(attribute(7, "direction"), "out");
    EXPECT_EQ(attribute(7, "value"), "1");
    ASSERT_EQ(gpio_setup(24, 0, 1, 0), 0);
    EXPECT_EQ(attribute(76, "direction"), "in");
    EXPECT_EQ(attribute(76, "value"), "1") << "an input's level is left to the board";
}

TEST_F(Gpio, ExportedPinSkipsTheExportWrite) {
    root_.write("/sys/class/gpio/gpio7/direction", "in\n");
    root_.write("/sys/class/gpio/gpio7/value", "1\n");
    root_.write("/sys/class/gpio/export", "untouched");
    ASSERT_EQ(gpio_setup(41, 1, 0, 0), 0);
    EXPECT_EQ(root_.read("/sys/class/gpio/export"), "untouched");
    EXPECT_EQ(attribute(7, "direction"), "out");
    EXPECT_EQ(attribute(7, "value"), "0");
}

TEST_F(Gpio, MissingAttributeIsMinusOne) {
    fs::create_directories(root_.path("/sys/class/gpio/gpio7"));
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpio_setup(41, 1, 0, 0), kGpioNoAttribute);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GpioSysfs_WriteDirection, PIN: 41, dir:1, -1\n");
    EXPECT_EQ(GpioSysfs_ReadValue(41), kGpioNoAttribute);
}

TEST(GpioWithoutBoard, ExportNobodyAnswersFailsAfterASecond) {
    TestRoot root;
    FakeClock clock;
    root.write("/sys/class/gpio/export", "");
    root.write("/dev/mem", std::string(0x01011000, '\0'));
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpio_setup(2, 0, 0, 0), kGpioFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "GpioSysfs_ExportGpio, PIN:2, ret: -3\n");
    EXPECT_EQ(root.read("/sys/class/gpio/export"), "10");
    EXPECT_EQ(clock.slept_us(), 1'000'000u);
}

struct PullCase {
    uint32_t pin;
    int gpio;
    uint32_t before;
    uint32_t pull;
    uint32_t after;
};

TEST_F(Gpio, PullSelectionReplacesOnlyTheTwoLowBits) {
    const PullCase cases[] = {{41, 7, 0xABCD1235, 2, 0xABCD1236}, {2, 10, 0xFFFFFFFF, 0, 0xFFFFFFFC},
                              {144, 52, 0x00000003, 1, 0x00000001}, {1, 25, 0x10, 6, 0x12}};
    for (const PullCase& c : cases) {
        set_word(c.gpio, c.before);
        set_word(c.gpio + 1, 0x5A5A5A5A);
        ASSERT_EQ(gpio_pull_select(c.pin, c.pull), 0) << c.pin;
        EXPECT_EQ(word(c.gpio), c.after) << c.pin;
        EXPECT_EQ(word(c.gpio + 1), 0x5A5A5A5Au) << "the next pin's page stays";
    }
}

TEST_F(Gpio, PinsWithoutARegisterGetNoPullSelection) {
    fs::remove(root_.path("/dev/mem"));
    EXPECT_EQ(gpio_pull_select(6, 1), kGpioUnsupported);
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpio_setup(6, 0, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(attribute(1018, "direction"), "in");
    testing::internal::CaptureStdout();
    EXPECT_EQ(gpio_setup(2, 0, 0, 0), kGpioFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "cannot open /dev/memPullselection setup PIN: 2, ret: -3\n");
}

TEST_F(Gpio, BoardLinesComeUpInTheirDirections) {
    board_gpio_init();
    struct Line {
        int gpio;
        const char* direction;
    };
    for (Line line : {Line{10, "in"}, Line{22, "out"}, Line{7, "out"}, Line{76, "in"},
                      Line{21, "in"}, Line{42, "in"}, Line{11, "in"}})
        EXPECT_EQ(attribute(line.gpio, "direction"), line.direction) << line.gpio;
    EXPECT_EQ(attribute(22, "value"), "0");
    EXPECT_EQ(attribute(7, "value"), "0");
    EXPECT_FALSE(root_.exists("/media/sdcard/log.txt"));
    EXPECT_EQ(board_revision(), kDefaultBoardRevision);
}

struct RevisionCase {
    const char* levels[4];  // REV ID 1 to 4 (SoC GPIO 76, 21, 42, 11)
    int revision;
};

TEST_F(Gpio, RevisionComesFromTheFourStraps) {
    board_gpio_init();
    const RevisionCase cases[] = {{{"0", "1", "0", "0"}, 3}, {{"0", "0", "0", "0"}, 1},
                                  {{"1", "1", "1", "1"}, 16}, {{"1", "0", "0", "1"}, 10},
                                  {{"", "1", "", ""}, 3}};
    const int gpios[] = {76, 21, 42, 11};
    for (const RevisionCase& c : cases) {
        for (int bit = 0; bit < 4; ++bit) set_value(gpios[bit], c.levels[bit]);
        EXPECT_EQ(board_revision(), c.revision);
    }
}

TEST(GpioWithoutBoard, UnreadableStrapsCountAsZeroAndEveryLineIsLogged) {
    TestRoot root;
    FakeClock clock;
    testing::internal::CaptureStdout();
    board_gpio_init();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(board_revision(), 1);
    const std::string log = root.read("/media/sdcard/log.txt");
    for (const char* role : {"SD Card Busy", "Sims control tmp", "Sims control", "REV ID 1",
                             "REV ID 2", "REV ID 3", "REV ID 4"})
        EXPECT_NE(log.find(std::string(";gpio;2;Error GPIO (") + role + ") - -3"), std::string::npos)
            << role;
}

TEST_F(Gpio, SimSelectDrivesBothLines) {
    board_gpio_init();
    struct Case {
        int slot;
        const char* level;
    };
    for (Case c : {Case{1, "1"}, Case{0, "0"}, Case{2, "1"}, Case{-1, "1"}}) {
        sim_gpio_select(c.slot);
        EXPECT_EQ(attribute(7, "value"), c.level) << c.slot;
        EXPECT_EQ(attribute(22, "value"), c.level) << c.slot;
    }
}

}  // namespace
