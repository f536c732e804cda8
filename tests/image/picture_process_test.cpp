#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/atomic_file.h"
#include "core/cellular_status.h"
#include "sim/cloud_emulator.h"
#include "cloud/cloud_sync.h"
#include "core/config.h"
#include "core/daemon_state.h"
#include "tests/support/fake_clock.h"
#include "image/image_helper.h"
#include "image/image_memory.h"
#include "core/json_util.h"
#include "image/picture_process.h"
#include "sim/pictures.h"
#include "tests/support/pty_pair.h"
#include "tests/support/stand_ins.h"
#include "tests/support/state_reset.h"
#include "tests/image/test_files.h"
#include "tests/support/test_root.h"
#include "cloud/transport.h"

namespace fs = std::filesystem;

// Linked with --wrap=rename: a source named in g_stuckName cannot be moved,
// as on a card that went read-only under one file.
static std::string g_stuckName;
static bool card_fails(const char* call, std::string path, size_t bytes, int fd = -1);
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to) {
    const size_t length = std::strlen(from);
    if (!g_stuckName.empty() && length > g_stuckName.size() &&
        std::strcmp(from + length - g_stuckName.size(), g_stuckName.c_str()) == 0) {
        errno = EROFS;
        return -1;
    }
    return card_fails("rename", to, 0) ? -1 : __real_rename(from, to);
}
// Linked with --wrap for fwrite, fsync, rename and statvfs: the card in folder
// g_card takes g_room more bytes. Past them, g_fault.call fails with
// g_fault.error, or with error 0 the card goes: its folder is moved aside and a
// bare mount point is left, as when it is pulled out.
constexpr long kNoLimit = LONG_MAX;
static long g_room = kNoLimit;
static struct {
    std::string call;
    int error = 0;
} g_fault;
static std::string g_card;

// Whether `call` on the file at `path` (or of descriptor `fd`) fails now, after `bytes` of the room are taken.
static bool card_fails(const char* call, std::string path, size_t bytes, int fd) {
    char target[512] = {};
    if (fd >= 0 && readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1) > 0)
        path = target;
    if (g_room == kNoLimit || path.rfind(g_card, 0) != 0 || (g_room -= long(bytes)) >= 0 || g_fault.call != call)
        return false;
    if (g_fault.error == 0 && !fs::exists(g_card + ".gone")) {
        fs::rename(g_card, g_card + ".gone");
        fs::create_directory(g_card);
    }
    errno = g_fault.error == 0 ? EIO : g_fault.error;
    return true;
}
extern "C" size_t __real_fwrite(const void* bytes, size_t size, size_t count, FILE* file);
extern "C" size_t __wrap_fwrite(const void* bytes, size_t size, size_t count, FILE* file) {
    return card_fails("fwrite", "", size * count, fileno(file)) ? 0 : __real_fwrite(bytes, size, count, file);
}
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) { return card_fails("fsync", "", 0, fd) ? -1 : __real_fsync(fd); }
// The room left as the card's free space (statvfs64 where a 32-bit build has 64-bit file offsets).
static int free_space(int rc, struct statvfs* info) {
    if (g_room != kNoLimit) info->f_bavail = static_cast<fsblkcnt_t>(std::max(g_room, 0L)) / info->f_frsize;
    return rc;
}
extern "C" int __real_statvfs(const char* path, struct statvfs* info);
extern "C" int __wrap_statvfs(const char* path, struct statvfs* info) { return free_space(__real_statvfs(path, info), info); }
extern "C" int __real_statvfs64(const char* path, struct statvfs* info);
extern "C" int __wrap_statvfs64(const char* path, struct statvfs* info) { return free_space(__real_statvfs64(path, info), info); }

namespace {

using Names = std::vector<std::string>;
constexpr const char* kProcess = "/media/sdcard/process/";
constexpr const char* kOriginal = "/media/sdcard/original/";
constexpr const char* kTransmit = "/media/sdcard/transmit/";

class Processing : public ::testing::Test {
protected:
    void SetUp() override {
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
        g_room = kNoLimit;
        g_fault = {};
        image_memory_set_ceiling(0);
        http_cleanup();
        config_reset();
    }

    // A picture in process/ (4:3), taken `minutesAgo` before now, with the given file age.
    void picture(const std::string& name, int minutesAgo, int order, bool exif = true, int width = 320) {
        SimPicture p;
        p.width = width;
        p.height = width * 3 / 4;
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
    bool logged(const std::string& text) { return root.log().find(text) != std::string::npos; }
    std::string date_of(const std::string& path) {
        return exif_text(load_exif(root.path(path)).get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    }

    static constexpr time_t kNow = 1715072400;  // 7 May 2024, 09:00 UTC
    TestRoot root;
    ScopedTimeZone tz{"UTC0"};
    FakeClock clock;
    PtyPair mcu;
    StandIns board{root, {"swapon", "swapoff", "mkswap", "dd"}};
};

TEST_F(Processing, ListingHasRegularFilesOnlyInBothOrdersWithAMaximum) {
    file("b.JPG", 2);
    file("a.JPG", 2);
    file("c.JPG", 1);
    file("d.JPG", 3);
    fs::create_directories(root.path(kProcess) + "folder.JPG");
    fs::create_symlink(root.path(kProcess) + "a.JPG", root.path(kProcess) + "link.JPG");
    auto listed = [&](FileOrder order, int max) {
        std::vector<FileEntry> entries;
        EXPECT_EQ(list_files(root.path(kProcess).c_str(), entries, max, order), 0);
        Names out;
        for (const auto& e : entries) out.push_back(e.name);
        return out;
    };
    EXPECT_EQ(listed(compare_oldest_first, 0), (Names{"c.JPG", "a.JPG", "b.JPG", "d.JPG"}));
    EXPECT_EQ(listed(compare_newest_first, 0), (Names{"d.JPG", "b.JPG", "a.JPG", "c.JPG"}));
    EXPECT_EQ(listed(compare_newest_first, 2), (Names{"d.JPG", "b.JPG"}));
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

TEST_F(Processing, NumbersCarryOnAfterWhatOriginalHoldsAndTheSwapFileGoesOnOnce) {
    for (const char* name : {"PICT0001.JPG", "PICT0002.JPG", "PICT0003.JPG"})
        root.write(kOriginal + std::string(name), "old");
    picture("IMAG0100.JPG", 5, 1, true, 1600);
    picture("IMAG0101.Jpeg", 4, 2, true, 1600);
    picture("IMAG0102.jpeg", 3, 3);
    // The first two decode to 600 x 450 x 3 bytes, the third to 320 x 240 x 3.
    image_memory_set_ceiling(700000);
    g_card = root.path("/media/sdcard");
    g_room = 1L << 30;  // room for the swap file
    process_pictures();
    EXPECT_EQ(names(kOriginal), (Names{"PICT0001.JPG", "PICT0002.JPG", "PICT0003.JPG",
                                       "PICT0004.JPG", "PICT0005.JPG", "PICT0006.JPG"}));
    EXPECT_EQ(names(kProcess), Names{});
    // Only the third has its transmit copy.
    EXPECT_TRUE(root.exists(kTransmit + std::string("PICT0006.JPG")));
    EXPECT_TRUE(logged(";process;0;Picture processed: 1"));
    const std::string swap = root.path("/media/sdcard/swap");
    EXPECT_EQ(board.calls(), (Names{"dd if=/dev/zero of=" + swap + " bs=1024 count=102400",
                                    "mkswap " + swap, "swapon " + swap, "swapoff " + swap}));
    EXPECT_TRUE(logged(";process;2;Image resize error - resolution is not supported"));
    // One keep-alive byte per file.
    EXPECT_EQ(mcu.drain(), std::string(3, '\x06'));

    // Room for the file but not for the 1 MiB beside it: no swap file.
    fs::remove(root.path("/calls.log"));
    picture("IMAG0103.JPG", 2, 4, true, 1600);
    g_room = 100L << 20;
    process_pictures();
    EXPECT_EQ(board.calls(), Names{});
    EXPECT_TRUE(logged(";process;1;No room for a swap file"));
}

// 640 x 480 is above the transmit budget of 202,800 pixels: the copy keeps the
// aspect at the largest size within it.
TEST_F(Processing, ACopyAboveTheTransmitBudgetIsCutToIt) {
    picture("IMAG0001.JPG", 5, 1, true, 640);
    process_pictures();
    const Picture copy = decode_file(root.path(kTransmit) + "PICT0001.JPG");
    EXPECT_EQ(std::make_pair(copy.width, copy.height), std::make_pair(520, 390));
}

TEST_F(Processing, OtherFilesAreNumberedByTheirExtension) {
    g_config.exifDateDrift = 77;
    file("M1.AVI", 1);
    file("M2.AVI", 2);
    file("README", 3);
    file("a.jpe", 4);
    file("b.c.jfif", 5);
    file(".hidden", 6);
    file("dot.", 7);
    process_pictures();
    // One number runs through all other files of a run, whatever their extension.
    EXPECT_EQ(names(kOriginal), (Names{"0003.", "0007.", "AVI0001.AVI", "AVI0002.AVI",
                                       "hidden0006.hidden", "jfif0005.jfif", "jpe0004.jpe"}));
    EXPECT_EQ(names(kTransmit), Names{});
    EXPECT_EQ(g_config.exifDateDrift, 77);
    EXPECT_TRUE(logged(";process;0;Picture processed: 0"));

    file("NOTES", 8);
    process_pictures();
    EXPECT_TRUE(root.exists("/media/sdcard/original/0001."));
}

// A newest picture without EXIF has no date to measure: it neither changes the
// drift (though "each" mode or no drift stored would take any) nor counts as old.
TEST_F(Processing, DriftMeasuredOnTheNewestPicture) {
    const struct {
        const char* what;
        int stored;
        int measured;  // minutes the camera is behind
        bool each;
        int expectStored;
        bool exif = true;
    } cases[] = {
        {"equal", 30, 30, false, 30},
        {"stored 0", 0, 30, false, 30},
        {"each mode", 10, 30, true, 30},
        {"smaller", 50, 30, false, 30},
        {"within one period", 10, -100, false, 10},
        {"beyond one period", 10, -300, false, -300},
        {"no EXIF, each mode", 90, 0, true, 90, false},
    };
    for (const auto& c : cases) {
        g_config.exifDateDrift = c.stored;
        config_apply(c.each ? "{\"transmitFreq\": 0}" : "{\"transmitFreq\": 6}");
        picture("OLDER.JPG", 500, 1);
        picture("NEWEST.JPG", c.measured, 2, c.exif);
        process_pictures();
        EXPECT_EQ(g_config.exifDateDrift, c.expectStored) << c.what;
        EXPECT_EQ(g_config.inaccurateDate, 0) << c.what;
    }
}

// Where the segment with this marker starts in a camera picture's headers.
size_t segment(const std::string& jpeg, int marker) {
    size_t at = 2;
    while (static_cast<uint8_t>(jpeg[at + 1]) != marker)
        at += 2 + (static_cast<uint8_t>(jpeg[at + 2]) << 8) + static_cast<uint8_t>(jpeg[at + 3]);
    return at;
}

std::string little(uint32_t value, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
    return out;
}

// An EXIF block as some cameras pack it: an odd-sized value without the pad
// byte the EXIF library adds when it writes one, and so large that the
// library's own copy no longer fits a segment. Its date is text (format 2) or,
// from a careless camera, bytes (format 7).
std::string packed_exif_segment(const std::string& date, uint32_t format = 2) {
    const uint32_t exifIfd = 26, dateAt = exifIfd + 30, commentAt = dateAt + 20;
    const uint32_t commentSize = 0xFFFF - 2 - 6 - commentAt;
    std::string tiff = "II" + little(42, 2) + little(8, 4) + little(1, 2) + little(0x8769, 2) +
                       little(4, 2) + little(1, 4) + little(exifIfd, 4) + little(0, 4) +
                       little(2, 2) + little(0x9003, 2) + little(format, 2) + little(20, 4) +
                       little(dateAt, 4) + little(0x9286, 2) + little(7, 2) +
                       little(commentSize, 4) + little(commentAt, 4) + little(0, 4) + date +
                       std::string(1, '\0') + std::string(commentSize, 'c');
    return std::string("\xFF\xE1\xFF\xFF", 4) + "Exif" + std::string(2, '\0') + tiff;
}

TEST_F(Processing, CameraFilesSurviveTheirOwnStructure) {
    using Damage = std::function<std::string(std::string)>;
    const std::string taken = sim_exif_date(kNow - 2 * 86400);
    const std::string corrected = sim_exif_date(kNow - 2 * 86400 + 90 * 60);
    struct Case {
        const char* what;
        Damage damage;
        std::string date;  // in both files afterwards
    } cases[] = {
        {"packed EXIF", [&](std::string j) { return j.replace(2, segment(j, 0xE0) - 2, packed_exif_segment(taken)); },
         corrected},
        // Not where the date text is sure to be: neither file takes the correction.
        {"date as bytes",
         [&](std::string j) { return j.replace(2, segment(j, 0xE0) - 2, packed_exif_segment(taken, 7)); }, taken},
        {"no end marker", [](std::string j) { return j.substr(0, j.size() - 2); }, corrected},
        // The decoder recovers what it can: a part of the picture beats none.
        {"cut short", [](std::string j) { return j.substr(0, j.size() / 2); }, corrected},
    };
    g_config.exifDateDrift = 90;
    std::vector<std::string> camera;
    for (const Case& c : cases) {
        SimPicture p;
        p.width = 320;
        p.height = 240;
        p.dateTimeOriginal = taken;
        ASSERT_EQ(sim_write_picture(root.path("/media/sdcard/cam.jpg").c_str(), p), 0);
        camera.push_back(c.damage(root.read("/media/sdcard/cam.jpg")));
        file(std::to_string(camera.size()) + ".JPG", static_cast<int>(camera.size()), camera.back());
    }
    picture("NEWEST.JPG", 90, 9);  // keeps the drift at 90 minutes
    process_pictures();

    for (size_t i = 0; i < camera.size(); ++i) {
        const Case& c = cases[i];
        const std::string name = "PICT000" + std::to_string(i + 1) + ".JPG";
        const std::string original = kOriginal + name, transmit = kTransmit + name;
        EXPECT_EQ(date_of(original), c.date) << c.what;
        EXPECT_EQ(date_of(transmit), c.date) << c.what;
        // The date's 19 characters are patched in place, or not a byte changes.
        const size_t span = changed_span(camera[i], root.read(original));
        EXPECT_TRUE(c.date == taken ? span == 0 : span > 0 && span <= 19) << c.what << span;
        root.write("/media/sdcard/cam.jpg", camera[i]);
        const std::string pixels = pixels_of(root.path("/media/sdcard/cam.jpg"));
        EXPECT_EQ(pixels.size(), 320u * 240u * 3u) << c.what;
        EXPECT_TRUE(pixels_of(root.path(original)) == pixels) << c.what;
    }
    EXPECT_TRUE(logged(";process;0;Picture processed: 5"));
    EXPECT_EQ(g_config.exifDateDrift, 90);
    // Pictures a day old or more mark the dates as inaccurate, and that is saved.
    EXPECT_EQ(g_config.inaccurateDate, 1);
    EXPECT_EQ(g_config.inaccurateDateNotice, 1);
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"inaccurateDate\": 1"), std::string::npos);
    // The recent picture keeps its own date.
    EXPECT_EQ(date_of(kTransmit + std::string("PICT0005.JPG")), sim_exif_date(kNow - 90 * 60));
}

// A save that a power cut ends while it writes.
void cut_save(const std::string& path) {
    pid_t child = fork();
    if (child == 0)
        atomic_file_write(path.c_str(), [](FILE* file) {
            std::fputs("half", file);
            std::fflush(file);
            _exit(0);
            return true;
        });
    waitpid(child, nullptr, 0);
}

TEST_F(Processing, PowerCutLeftoversAreNeitherFiledNorSentAndGoAtStartUp) {
    cut_save(root.path(kProcess) + "A.JPG");
    cut_save(root.path(kTransmit) + "PICT0001.JPG");
    cut_save(root.path("/etc/qz_daemon_conf.json"));
    root.write("/media/sdcard/swap", "the swap file of a run the power cut");
    process_pictures();
    EXPECT_EQ(names(kOriginal), Names{});

    remove_stale_picture_temporaries();
    EXPECT_FALSE(root.exists("/media/sdcard/swap"));
    EXPECT_EQ(board.calls(), Names{"swapoff " + root.path("/media/sdcard/swap")});
    config_load();
    for (const char* folder : {kProcess, kTransmit}) EXPECT_EQ(names(folder), Names{}) << folder;
    EXPECT_EQ(names("/etc/"), Names{"qz_daemon_conf.json"});
}

TEST_F(Processing, NameTooLongForAPathStaysWhereItIs) {
    const std::string longName = std::string(240, 'L') + ".JPG";
    const std::string longExtension = "M." + std::string(120, 'X');  // twice in its new name
    picture(longName, 6, 1);
    file(longExtension, 2);
    picture("SHORT.JPG", 5, 3);
    process_pictures();
    EXPECT_EQ(names(kProcess), (Names{longName, longExtension}));
    EXPECT_EQ(names(kOriginal), (Names{"PICT0001.JPG"}));
    for (const std::string& name : {longName, longExtension})
        EXPECT_TRUE(logged(";process;1;File name too long - " + name + "\r\n")) << name;
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
    // Only what was filed counts: one picture in the first run, none in the second.
    EXPECT_NE(root.log().find("Picture processed: 1\r\n"), std::string::npos);
    EXPECT_NE(root.log().find("Picture processed: 0\r\n"), std::string::npos);
}

// A card that fills up, turns read-only, fails or goes during a run pauses the
// pictures, never loses one: each stays whole in process/ or original/, none
// is filed without its copy (unless it does not decode), nothing half-written
// or swap file is left, and after the next wake's start-up a run and a sync
// with room deliver every picture once.
TEST_F(Processing, CardFaultsPauseThePicturesAndTheNextRunSendsThemAll) {
    const struct {
        const char* what;
        long room;
        const char* call;
        int error;
        const char* logged;
    } cases[] = {
        {"full before the run", 0, "fwrite", ENOSPC, "Card full: 4 pictures left for the next run"},
        {"full in the middle of a copy", 30000, "fwrite", ENOSPC, "Card full: 2 pictures left"},
        {"full at the rename", 30000, "rename", ENOSPC, "Card full: 2 pictures left"},
        {"read-only", 30000, "fwrite", EROFS, "Read-only file system: 2 pictures left"},
        {"failing at the flush", 30000, "fsync", EIO, "Input/output error: 2 pictures left"},
        {"gone in the middle", 30000, "fwrite", 0, "Input/output error: 2 pictures left"},
    };
    g_card = root.path("/media/sdcard");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(g_card);
        for (const char* dir : {kProcess, kOriginal, kTransmit}) fs::create_directories(root.path(dir));
        std::vector<std::string> camera;
        for (int i = 1; i <= 3; ++i) {
            picture("IMAG000" + std::to_string(i) + ".JPG", 5, i * 2, true, 640);
            camera.push_back(pixels_of(root.path(kProcess) + "IMAG000" + std::to_string(i) + ".JPG"));
        }
        file("BAD.JPG", 3, "not a picture");
        CloudScenario scenario;
        CloudEmulator cloud(scenario);
        ASSERT_TRUE(cloud.start() && cloud_emulator_attach(cloud, scenario, root.root()));
        config_load();
        copy_text(g_state.imei, sizeof g_state.imei, "861234567890123");
        g_cellular.dataCallUp = g_cellular.simMissing = 1;
        g_room = c.room;
        g_fault = {c.call, c.error};
        process_pictures();
        g_room = kNoLimit;
        EXPECT_TRUE(logged(std::string(";process;1;") + c.logged));
        EXPECT_EQ(count_of(root.log(), "cannot write"), 1u);  // the run stopped at once
        EXPECT_EQ(board.calls(), Names{});
        if (c.error == 0) {  // nothing but the log goes to the module's own flash
            cloud_sync(0);
            EXPECT_EQ(names("/media/sdcard/"), Names{"log.txt"});
            fs::remove_all(g_card);
            fs::rename(g_card + ".gone", g_card);
        }
        auto temporaries = [&] {
            return std::count_if(fs::recursive_directory_iterator(g_card), {}, [](const fs::directory_entry& e) {
                return atomic_file_is_temporary(e.path().filename().c_str());
            });
        };
        // A card that went keeps what it was writing until the next start-up.
        EXPECT_EQ(temporaries(), c.error == 0 ? 1 : 0);
        std::set<std::string> kept;
        for (const char* folder : {kProcess, kOriginal})
            for (const std::string& name : names(folder)) kept.insert(pixels_of(root.path(folder + name)));
        for (const std::string& pixels : camera) EXPECT_EQ(kept.count(pixels), 1u);
        for (const std::string& name : names(kOriginal))
            EXPECT_TRUE(pixels_of(root.path(kOriginal + name)).empty() || root.exists(kTransmit + name)) << name;

        remove_stale_picture_temporaries();  // the next wake
        process_pictures();
        cloud_sync(0);
        Names sent;
        for (const StoredPicture& p : cloud.pictures()) sent.push_back(p.name);
        std::sort(sent.begin(), sent.end());
        EXPECT_EQ(sent, (Names{"PICT0001.JPG", "PICT0003.JPG", "PICT0004.JPG"}));
        EXPECT_EQ(names(kProcess), Names{});
        EXPECT_EQ(temporaries(), 0);
        http_cleanup();
        mcu.drain();
    }
}

}  // namespace
