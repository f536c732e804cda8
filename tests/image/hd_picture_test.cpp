#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "image/hd_picture.h"
#include "image/image_helper.h"
#include "image/image_memory.h"
#include "sim/pictures.h"
#include "tests/support/stand_ins.h"
#include "tests/image/test_files.h"
#include "tests/support/test_root.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kTaken = "2024-05-01T10:30:00.000Z";

class HdPictures : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(root.path("/media/sdcard/original"));
        board.script("/usrdata/jpegoptim", "echo \"jpegoptim $*\" >> " + root.path("/calls.log") + "\n");
    }
    std::string original(const std::string& name) const { return root.path("/media/sdcard/original/") + name; }
    int32_t lookup(const std::string& name, const char* date) {
        char buffer[512] = "untouched";
        int32_t result = hd_lookup(name.c_str(), date, buffer, sizeof buffer);
        path = buffer;
        return result;
    }
    bool called(const std::string& call) const {
        auto calls = board.calls();
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }

    TestRoot root;
    ScopedTimeZone utc{"UTC"};
    StandIns board{root, {"dd", "mkswap", "swapon", "swapoff"}};
    std::string path;
};

TEST_F(HdPictures, OnlyThePictureWithThatNameAndDateIsReady) {
    ASSERT_TRUE(write_camera_picture(original("PICT0001.JPG"), 2000, 1500));
    ASSERT_TRUE(write_camera_picture(original("PICT;touch pwned;.JPG"), 640, 480));
    SimPicture bare;
    bare.width = 64, bare.height = 48, bare.exif = false;
    ASSERT_EQ(sim_write_picture(original("BARE.JPG").c_str(), bare), 0);
    sim_write_file(original("BAD.JPG"), "not a picture");
    struct Case {
        std::string name;
        const char* date;
        int32_t result;
    } cases[] = {
        {"PICT0001.JPG", kTaken, 0},
        {"PICT0001.JPG", "2024-05-01T10:30:01.000Z", 1},
        {"PICT0009.JPG", kTaken, 1},
        {"BARE.JPG", "no date", 0},
        {"BARE.JPG", kTaken, 1},
        {"BAD.JPG", "no date", 1},
        {"PICT;touch pwned;.JPG", kTaken, 0},
        {"../original/PICT0001.JPG", kTaken, 1},
        {"..", kTaken, 1},
        {"", kTaken, 1},
        {"PICT\n0001.JPG", kTaken, 1},
        {std::string(237, 'P'), kTaken, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + " " + c.date);
        ASSERT_EQ(lookup(c.name, c.date), c.result);
        const std::string hd = root.path("/media/sdcard/transmit/HD") + c.name;
        EXPECT_EQ(path, c.result == 0 ? hd : "");
        if (c.result == 0) {
            EXPECT_TRUE(called("jpegoptim -S150 --strip-com --strip-iptc --strip-icc --strip-xmp " + hd));
        }
    }
    EXPECT_FALSE(fs::exists("pwned") || root.exists("/pwned"));
    const std::string hd = root.path("/media/sdcard/transmit/HDPICT0001.JPG");
    Picture copy = decode_file(hd);
    EXPECT_EQ(copy.width * 10000 + copy.height, 1663 * 10000 + 1247);
    EXPECT_EQ(exif_picture_time(hd.c_str()), exif_picture_time(original("PICT0001.JPG").c_str()));
    const std::string log = root.log();
    EXPECT_NE(log.find(";hd;2;HD picture ready: PICT0001.JPG (2024-05-01T10:30:00.000Z)\r\n"), std::string::npos);
    EXPECT_NE(log.find(";hd;2;HD picture not available: PICT0001.JPG (2024-05-01T10:30:01.000Z)\r\n"),
              std::string::npos);
}

// Without memory a swap file is tried once, then removed; a card that cannot
// take the copy makes no swap file and keeps the picture as it was.
TEST_F(HdPictures, WithoutMemoryASwapFileIsTriedOnceThenRemoved) {
    ASSERT_TRUE(write_camera_picture(original("PICT0003.JPG"), 64, 48));
    const std::string kept = sim_read_file(original("PICT0003.JPG"));
    image_memory_set_ceiling(1);
    EXPECT_EQ(lookup("PICT0003.JPG", kTaken), 1);
    image_memory_set_ceiling(0);
    const std::string swap = root.path("/media/sdcard/swap");
    EXPECT_EQ(board.calls(), (std::vector<std::string>{"dd if=/dev/zero of=" + swap + " bs=1024 count=51200",
                                                       "mkswap " + swap, "swapon " + swap, "swapoff " + swap}));
    EXPECT_NE(root.log().find(";process;2;Image resize error - resolution is not supported"),
              std::string::npos);

    fs::remove(root.path("/calls.log"));
    fs::remove_all(root.path("/media/sdcard/transmit"));
    sim_write_file(root.path("/media/sdcard/transmit"), "a file where the folder should be");
    EXPECT_EQ(lookup("PICT0003.JPG", kTaken), kHdCardFault);
    EXPECT_EQ(board.calls(), std::vector<std::string>{});
    EXPECT_EQ(sim_read_file(original("PICT0003.JPG")), kept);
}

TEST_F(HdPictures, WithoutCardTheAnswerIsTwoAndThePathUntouched) {
    fs::remove_all(root.path("/media/sdcard"));
    EXPECT_EQ(lookup("PICT0001.JPG", kTaken), 2);
    EXPECT_EQ(path, "untouched");
}

}  // namespace
