#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "config.h"
#include "daemon_state.h"
#include "fake_clock.h"
#include "image_helper.h"
#include "picture_process.h"
#include "pictures.h"
#include "pty_pair.h"
#include "stand_ins.h"
#include "state_reset.h"
#include "test_root.h"

namespace fs = std::filesystem;

// Linked with --wrap=rename: a source named in g_stuckName cannot be moved,
// as on a card that went read-only under one file.
static std::string g_stuckName;
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to) {
    const size_t length = std::strlen(from);
    if (!g_stuckName.empty() && length > g_stuckName.size() &&
        std::strcmp(from + length - g_stuckName.size(), g_stuckName.c_str()) == 0) {
        errno = EROFS;
        return -1;
    }
    return __real_rename(from, to);
}

namespace {

using Names = std::vector<std::string>;
constexpr const char* kProcess = "/media/sdcard/process/";
constexpr const char* kOriginal = "/media/sdcard/original/";
constexpr const char* kTransmit = "/media/sdcard/transmit/";

class Processing : public ::testing::Test {
protected:
    void SetUp() override {
        config_reset();
        for (const char* dir : {kProcess, kOriginal, kTransmit}) fs::create_directories(root.path(dir));
        clock.pin_wall(kNow);
        // Scheduled sending: four transmissions a day, first sync long ago.
        config_apply("{\"transmitFreq\": 6}");
        g_config.powerOnTime = static_cast<int32_t>(kNow - 86400);
        g_state.mcuFd = mcu.daemon_side();
    }
    void TearDown() override {
        g_state.mcuFd = -1;
        g_stuckName.clear();
        config_reset();
    }

    // A small picture in process/, taken `minutesAgo` before now, with the given file age.
    void picture(const std::string& name, int minutesAgo, int order, bool exif = true) {
        SimPicture p;
        p.width = 320;
        p.height = 240;
        p.exif = exif;
        p.dateTimeOriginal = sim_exif_date(kNow - minutesAgo * 60);
        p.seed = static_cast<unsigned>(order + 1);
        ASSERT_EQ(sim_write_picture(root.path(kProcess + name).c_str(), p), 0);
        age(name, order);
    }
    void file(const std::string& name, int order, const std::string& content = "data") {
        root.write(kProcess + name, content);
        age(name, order);
    }
    void age(const std::string& name, int order) {
        utimbuf times{kNow - 1000 + order, kNow - 1000 + order};
        utime(root.path(kProcess + name).c_str(), &times);
    }
    Names names(const char* folder) {
        Names found;
        for (const auto& entry : fs::directory_iterator(root.path(folder)))
            found.push_back(entry.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    }
    std::string log() { return root.read("/media/sdcard/log.txt"); }
    bool logged(const std::string& text) { return log().find(text) != std::string::npos; }

    static constexpr time_t kNow = 1715072400;  // 7 May 2024, 09:00 UTC
    TestRoot root;
    ScopedTimeZone tz{"UTC0"};
    FakeClock clock;
    PtyPair mcu;
    StandIns board{root, {"swapon", "swapoff", "mkswap", "dd"}};
};

TEST(FileListing, RegularFilesOnlyInBothOrdersWithAMaximum) {
    TestRoot root;
    const std::string dir = root.path("/media/sdcard/list/");
    fs::create_directories(dir + "folder.JPG");
    const struct { const char* name; time_t mtime; } files[] = {
        {"b.JPG", 200}, {"a.JPG", 200}, {"c.JPG", 100}, {"d.JPG", 300}};
    for (const auto& f : files) {
        root.write(std::string("/media/sdcard/list/") + f.name, "x");
        utimbuf times{f.mtime, f.mtime};
        utime((dir + f.name).c_str(), &times);
    }
    fs::create_symlink(dir + "a.JPG", dir + "link.JPG");

    auto listed = [&](FileOrder order, int max) {
        std::vector<FileEntry> entries;
        EXPECT_EQ(list_files(dir.c_str(), entries, max, order), 0);
        Names out;
        for (const auto& e : entries) out.push_back(e.name);
        return out;
    };
    EXPECT_EQ(listed(compare_oldest_first, 0), (Names{"c.JPG", "a.JPG", "b.JPG", "d.JPG"}));
    EXPECT_EQ(listed(compare_newest_first, 0), (Names{"d.JPG", "b.JPG", "a.JPG", "c.JPG"}));
    EXPECT_EQ(listed(compare_newest_first, 2), (Names{"d.JPG", "b.JPG"}));
    EXPECT_EQ(listed(compare_oldest_first, 9), (Names{"c.JPG", "a.JPG", "b.JPG", "d.JPG"}));

    std::vector<FileEntry> untouched(1);
    fs::create_directories(root.path("/media/sdcard/empty/"));
    EXPECT_EQ(list_files(root.path("/media/sdcard/empty/").c_str(), untouched, 0, compare_oldest_first), 0);
    EXPECT_EQ(untouched.size(), 1u);
    EXPECT_EQ(list_files(root.path("/none/").c_str(), untouched, 0, compare_oldest_first), -1);
    EXPECT_EQ(list_files(nullptr, untouched, 0, compare_oldest_first), -1);
}

TEST(FileListing, Extensions) {
    const char* cases[][2] = {{"PICT0001.JPG", "JPG"}, {"a.b.jpeg", "jpeg"}, {"noext", ""},
                              {"dot.", ""}, {".hidden", "hidden"}};
    for (const auto& c : cases) EXPECT_STREQ(file_extension(c[0]), c[1]) << c[0];
}

TEST_F(Processing, EmptyFolderLogsAndSavesNothing) {
    fs::remove(root.path("/media/sdcard/log.txt"));
    fs::remove(root.path("/etc/qz_daemon_conf.json"));
    process_pictures();
    EXPECT_FALSE(root.exists("/media/sdcard/log.txt"));
    EXPECT_FALSE(root.exists("/etc/qz_daemon_conf.json"));
    fs::remove_all(root.path(kProcess));
    process_pictures();
    EXPECT_TRUE(logged(";process;2;Unable to access process path - -1"));
}

TEST_F(Processing, NumbersCarryOnAfterWhatOriginalHolds) {
    for (const char* name : {"PICT0001.JPG", "PICT0002.JPG", "PICT0003.JPG"})
        root.write(kOriginal + std::string(name), "old");
    picture("IMAG0100.JPG", 5, 1);
    picture("IMAG0101.Jpeg", 4, 2);
    picture("IMAG0102.jpeg", 3, 3);
    process_pictures();
    EXPECT_EQ(names(kOriginal), (Names{"PICT0001.JPG", "PICT0002.JPG", "PICT0003.JPG",
                                       "PICT0004.JPG", "PICT0005.JPG", "PICT0006.JPG"}));
    EXPECT_EQ(names(kTransmit), (Names{"PICT0004.JPG", "PICT0005.JPG", "PICT0006.JPG"}));
    EXPECT_EQ(names(kProcess), Names{});
    EXPECT_TRUE(logged(";process;0;Picture processed: 3"));
    // One keep-alive byte per file.
    EXPECT_EQ(mcu.drain(), std::string(3, '\x06'));
}

TEST_F(Processing, OtherFilesAreNumberedByTheirExtension) {
    g_config.exifDateDrift = 77;
    file("M1.AVI", 1);
    file("M2.AVI", 2);
    file("README", 3);
    file("a.jpe", 4);
    file("b.jfif", 5);
    process_pictures();
    // One number runs through all other files of a run, whatever their extension.
    EXPECT_EQ(names(kOriginal),
              (Names{"0003.", "AVI0001.AVI", "AVI0002.AVI", "jfif0005.jfif", "jpe0004.jpe"}));
    EXPECT_EQ(names(kTransmit), Names{});
    EXPECT_EQ(g_config.exifDateDrift, 77);
    EXPECT_TRUE(logged(";process;0;Picture processed: 0"));

    file("NOTES", 6);
    process_pictures();
    EXPECT_TRUE(root.exists("/media/sdcard/original/0001."));
}

struct DriftCase {
    const char* what;
    int stored;
    int measured;  // minutes the camera is behind
    bool each;
    int expectStored;
};

TEST_F(Processing, DriftMeasuredOnTheNewestPicture) {
    const DriftCase cases[] = {
        {"equal", 30, 30, false, 30},
        {"stored 0", 0, 30, false, 30},
        {"each mode", 10, 30, true, 30},
        {"smaller", 50, 30, false, 30},
        {"within one period", 10, -100, false, 10},
        {"beyond one period", 10, -300, false, -300},
    };
    for (const auto& c : cases) {
        g_config.exifDateDrift = c.stored;
        config_apply(c.each ? "{\"transmitFreq\": 0}" : "{\"transmitFreq\": 6}");
        picture("OLDER.JPG", 500, 1);
        picture("NEWEST.JPG", c.measured, 2);
        process_pictures();
        EXPECT_EQ(g_config.exifDateDrift, c.expectStored) << c.what;
        EXPECT_EQ(g_config.inaccurateDate, 0) << c.what;
    }
}

TEST_F(Processing, PictureWithoutExifNeitherMeasuresDriftNorCountsAsOld) {
    // In "each" mode any measured drift would be taken.
    config_apply("{\"transmitFreq\": 0}");
    g_config.exifDateDrift = 90;
    picture("OLD.JPG", 2 * 24 * 60, 1);
    picture("PLAIN.JPG", 0, 2, false);  // the newest, and without a date to measure
    process_pictures();
    EXPECT_EQ(g_config.exifDateDrift, 90);
    const time_t corrected = kNow - 2 * 86400 + 90 * 60;
    EXPECT_EQ(exif_picture_time(root.path("/media/sdcard/transmit/PICT0001.JPG").c_str()), corrected);

    // With no drift stored, any measured drift would be taken too.
    config_apply("{\"transmitFreq\": 6}");
    g_config.exifDateDrift = 0;
    g_config.inaccurateDate = 0;
    picture("ALONE.JPG", 0, 3, false);
    process_pictures();
    EXPECT_EQ(g_config.exifDateDrift, 0);
    EXPECT_EQ(g_config.inaccurateDate, 0);
}

TEST_F(Processing, OldPictureIsMarkedAndItsDateCorrectedInBothCopies) {
    g_config.exifDateDrift = 90;
    picture("OLD.JPG", 2 * 24 * 60, 1);
    picture("NEW.JPG", 90, 2);  // measures the stored drift again: 90 minutes
    process_pictures();
    EXPECT_EQ(g_config.inaccurateDate, 1);
    EXPECT_EQ(g_config.inaccurateDateNotice, 1);
    const time_t corrected = kNow - 2 * 86400 + 90 * 60;
    EXPECT_EQ(exif_picture_time(root.path("/media/sdcard/original/PICT0001.JPG").c_str()), corrected);
    EXPECT_EQ(exif_picture_time(root.path("/media/sdcard/transmit/PICT0001.JPG").c_str()), corrected);
    // The recent picture keeps its own date.
    EXPECT_EQ(exif_picture_time(root.path("/media/sdcard/transmit/PICT0002.JPG").c_str()), kNow - 90 * 60);
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"inaccurateDate\": 1"), std::string::npos);
}

TEST_F(Processing, UndecodablePictureIsDeleted) {
    file("BROKEN.JPG", 1, "this is no picture");
    picture("GOOD.JPG", 5, 2);
    process_pictures();
    // The broken picture used up its number before it was found undecodable.
    EXPECT_EQ(names(kOriginal), (Names{"PICT0002.JPG"}));
    EXPECT_EQ(names(kTransmit), (Names{"PICT0002.JPG"}));
    EXPECT_EQ(names(kProcess), Names{});
    EXPECT_TRUE(logged(";process;0;Picture processed: 1"));
}

TEST_F(Processing, FirstOutOfMemoryTurnsTheSwapFileOnOnce) {
    picture("A.JPG", 5, 1);
    picture("B.JPG", 4, 2);
    picture("C.JPG", 3, 3);
    // The copies of the first two cannot be written: resizing reports -2.
    fs::create_directories(root.path("/media/sdcard/transmit/PICT0001.JPG"));
    fs::create_directories(root.path("/media/sdcard/transmit/PICT0002.JPG"));
    process_pictures();
    const std::string swap = root.path("/media/sdcard/swap");
    EXPECT_EQ(board.calls(), (Names{"dd if=/dev/zero of=" + swap + " bs=1024 count=102400",
                                    "mkswap " + swap, "swapon " + swap, "swapoff " + swap}));
    EXPECT_FALSE(root.exists("/media/sdcard/swap"));
    EXPECT_TRUE(logged(";process;2;Image resize error - resolution is not supported"));
    EXPECT_TRUE(logged(";process;0;Picture processed: 1"));
    // All three are filed; only the third has its transmit copy.
    EXPECT_EQ(names(kOriginal), (Names{"PICT0001.JPG", "PICT0002.JPG", "PICT0003.JPG"}));
}

TEST_F(Processing, NameTooLongForAPathStaysWhereItIs) {
    const std::string longName = std::string(240, 'L') + ".JPG";
    picture(longName, 6, 1);
    picture("SHORT.JPG", 5, 2);
    process_pictures();
    EXPECT_EQ(names(kProcess), (Names{longName}));
    EXPECT_EQ(names(kOriginal), (Names{"PICT0001.JPG"}));
    EXPECT_TRUE(logged(";process;1;File name too long - " + longName));
}

TEST_F(Processing, FileThatCannotBeMovedIsNotSentTwice) {
    picture("STUCK.JPG", 6, 1);
    picture("FINE.JPG", 5, 2);
    g_stuckName = "/STUCK.JPG";
    process_pictures();
    process_pictures();
    EXPECT_EQ(names(kProcess), (Names{"STUCK.JPG"}));
    EXPECT_EQ(names(kOriginal), (Names{"PICT0002.JPG"}));
    // The stuck picture left no transmit copy behind, in either run.
    EXPECT_EQ(names(kTransmit), (Names{"PICT0002.JPG"}));
    EXPECT_TRUE(logged(";process;2;Unable to move " + root.path("/media/sdcard/process/STUCK.JPG")));
}

}  // namespace
