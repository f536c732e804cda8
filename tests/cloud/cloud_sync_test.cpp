#include <fcntl.h>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cloud/camera_record.h"
#include "core/cellular_status.h"
#include "cloud/cloud_api.h"
#include "sim/cloud_emulator.h"
#include "cloud/cloud_sync.h"
#include "core/config.h"
#include "core/device_root.h"
#include "core/daemon_state.h"
#include "tests/support/fake_clock.h"
#include "core/json_util.h"
#include "mcu/mcu_protocol.h"
#include "sim/pictures.h"
#include "tests/support/pty_pair.h"
#include "tests/support/stand_ins.h"
#include "tests/support/state_reset.h"
#include "tests/support/test_root.h"
#include "cloud/transport.h"

// Linked with --wrap=unlink: while g_failingDeletes counts down, transmit
// copies cannot be deleted, as on a card the kernel remounted read-only.
static int g_failingDeletes = 0;
extern "C" int __real_unlink(const char* path);
extern "C" int __wrap_unlink(const char* path) {
    if (g_failingDeletes > 0 && std::strstr(path, "/media/sdcard/transmit/")) {
        --g_failingDeletes;
        errno = EROFS;
        return -1;
    }
    return __real_unlink(path);
}

// Linked with --wrap=rename: counts the writes of the configuration file.
static int g_configWrites = 0;
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to) {
    if (std::strstr(to, "/etc/qz_daemon_conf.json")) ++g_configWrites;
    return __real_rename(from, to);
}

// The sync driver on the fake clock, and the cloud client against the
// emulator on loopback HTTPS through the real transport.
namespace {

// The MCU's side on the fake clock: what it heard, and the longest time it
// heard nothing. What was written before a sleep is read as the sleep
// begins, so each byte is timed exactly.
class McuEar {
public:
    explicit McuEar(FakeClock& clock) : clock_(clock), last_(clock.monotonic_us()) {
        EXPECT_EQ(pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0);
        g_state.mcuFd = fds_[1];
        clock.before_sleep = [this](uint64_t now) { listen(now); };
    }
    ~McuEar() {
        clock_.before_sleep = nullptr;
        g_state.mcuFd = -1;
        close(fds_[0]);
        close(fds_[1]);
    }
    std::string heard() {
        listen(clock_.monotonic_us());
        return heard_;
    }
    double longest_silence() {
        listen(clock_.monotonic_us());
        return static_cast<double>(std::max(longest_, clock_.monotonic_us() - last_)) / 1e6;
    }

private:
    void listen(uint64_t now) {
        char buffer[4096];
        const size_t before = heard_.size();
        for (ssize_t n; (n = read(fds_[0], buffer, sizeof buffer)) > 0;) heard_.append(buffer, static_cast<size_t>(n));
        if (heard_.size() == before) return;
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    FakeClock& clock_;
    int fds_[2] = {-1, -1};
    std::string heard_;
    uint64_t last_, longest_ = 0;
};

class Sync : public ::testing::Test {
protected:
    void SetUp() override {
        cellular_status_reset();
        copy_text(g_config.host, sizeof g_config.host, "127.0.0.1:1");  // nothing listens there
        g_state.mcuFd = mcu.daemon_side();
    }
    void TearDown() override {
        http_cleanup();
        g_state.mcuFd = -1;
        cellular_status_reset();
        config_reset();
    }
    // The service, with the device pointed at it and the data call up.
    void serve(const CloudScenario& scenario) {
        cloud = std::make_unique<CloudEmulator>(scenario);
        ASSERT_TRUE(cloud->start());
        ASSERT_TRUE(cloud_emulator_attach(*cloud, scenario, root.root()));
        config_reset();
        config_load();
        copy_text(g_state.imei, sizeof g_state.imei, "861234567890123");
        g_cellular.dataCallUp = 1;
        g_cellular.simMissing = 1;  // the signal is then reported without asking the modem
    }
    // Transmit copies PICT0001.JPG.., each newer than the one before.
    void pictures(int count) {
        std::filesystem::remove_all(root.path("/media/sdcard/transmit"));
        for (int i = 1; i <= count; ++i) {
            std::string path = "/media/sdcard/transmit/" + name(i);
            sent[name(i)] = std::string(2000, static_cast<char>('a' + i));
            root.write(path, sent[name(i)]);
            utimbuf times{1715000000 + i, 1715000000 + i};
            utime(root.path(path).c_str(), &times);
        }
    }
    static std::string name(int i) {
        char text[32];
        std::snprintf(text, sizeof text, "PICT%04d.JPG", i);
        return text;
    }

    TestRoot root;
    PtyPair mcu;
    std::unique_ptr<CloudEmulator> cloud;
    std::map<std::string, std::string> sent;
};

TEST_F(Sync, WaitsForTheDataCallAndSpacesAttemptsWithinTheBudget) {
    constexpr uint64_t kNever = 1000000;
    struct Case {
        uint64_t upAfter;
        size_t acks, attempts, slept;
    } cases[] = {
        // A budget spent on waiting still allows one attempt, but no time for its transfers.
        {kNever, 180 + 2 + 1, 1, 180},
        {178, 178 + 2 + 1 + 1, 1, 179},  // a byte a second while waiting to try again
        {179, 179, 0, 179},  // the flag rises exactly as the budget reaches 0
        // Failing attempts 1, 2, 4 ... 32 s apart, until 180 s have passed without progress.
        {0, 180 + 3 * 10, 10, 180},
    };
    for (const Case& c : cases) {
        cellular_status_reset();
        g_cellular.dataCallUp = c.upAfter == 0;
        FakeClock clock;
        McuEar ear(clock);
        clock.on_sleep = [&clock, &c](uint64_t) {
            if (clock.slept_us() >= c.upAfter * 1000000u) g_cellular.dataCallUp = 1;
        };
        root.write("/media/sdcard/log.txt", "");
        EXPECT_EQ(cloud_sync(0), -1) << c.upAfter;
        EXPECT_EQ(ear.heard(), std::string(c.acks, '\x06')) << c.upAfter;
        EXPECT_LE(ear.longest_silence(), 1.0) << c.upAfter;
        EXPECT_EQ(count_of(root.log(), ";token;2;Get token failed: "), c.attempts) << c.upAfter;
        EXPECT_EQ(clock.slept_us(), c.slept * 1000000u) << c.upAfter;
    }
}

TEST_F(Sync, EveryFirstSyncMovesTheInstallDate) {
    FakeClock clock;
    clock.pin_wall(1715072580);
    for (int32_t expected : {1715072580, 1715072580 + 180}) {
        mcu_handle_chunk("qz+firstsync\r");
        EXPECT_EQ(mcu.drain(), std::string(183, '\x06') + "\x04");
        EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"powerOnTime\": " + std::to_string(expected)),
                  std::string::npos);
    }
    EXPECT_EQ(count_of(root.log(), ";firstsync;0;Start first sync"), 2u);
    EXPECT_EQ(count_of(root.log(), ";firstsync;0;End first sync"), 2u);
}

TEST_F(Sync, ServiceAnswersAndFaults) {
    struct Case {
        const char* what;
        std::function<void(CloudScenario&)> scenario;
        int pictures, refused, mode;
        size_t documents, tokenRequests, stored;
        int listLength;  // uploadPictureCount after the sync, starting from 10
        const char* logged;
    } cases[] = {
        {"stored token", [](CloudScenario&) {}, 0, 0, 0, 1, 0, 0, 10, ";sync;1;Nothing to upload"},
        {"revoked 401", [](CloudScenario& s) { s.refuseToken = 1; }, 0, 0, 0, 2, 1, 0, 10,
         ";PutCamera;2;Put camera failed: HTTP status 401"},
        {"revoked 403", [](CloudScenario& s) { s.refuseToken = 1, s.refuseStatus = 403; }, 0, 0, 0, 2, 1, 0, 10,
         ";camapi;0;Reset token"},
        {"5xx", [](CloudScenario& s) { s.serverErrors = 2; }, 0, 0, 0, 3, 0, 0, 10,
         ";PutCamera;2;Put camera failed: HTTP status 500"},
        {"dropped", [](CloudScenario& s) { s.dropCamera = 1; }, 0, 0, 0, 2, 0, 0, 10,
         ";PutCamera;2;Put camera failed: Transferred a partial file"},
        {"not JSON", [](CloudScenario& s) { s.notJson = 1; }, 0, 0, 0, 1, 0, 0, 10, ";sync;1;Nothing to upload"},
        {"config", [](CloudScenario& s) { s.config = R"({"transmitFreq": 3})"; }, 0, 0, 0, 1, 0, 0, 10,
         ";config;0;{ \"transmitFreq\": 3 }"},
        {"first sync", [](CloudScenario&) {}, 3, 0, 1, 1, 0, 1, 10, ";uploads;0;1 [ { \"name\": \"PICT0003.JPG\""},
        {"10 of 10", [](CloudScenario&) {}, 12, 0, 0, 2, 0, 12, 15, ";upload;0;Picture to upload: 2"},
        {"3 of 10", [](CloudScenario&) {}, 10, 7, 0, 2, 0, 3, 5,
         ";sync;2;File transfer failed for PICT0001.JPG: HTTP status 403; kept for the next sync"},
        {"0 of 10", [](CloudScenario&) {}, 10, 10, 0, 1, 0, 0, 5, ";upload;0;Picture to upload: 10"},
        {"deletes fail", [](CloudScenario&) { g_failingDeletes = 30; }, 12, 0, 0, 1, 0, 10, 5,
         ";sync;2;Failed to delete /media/sdcard/transmit/PICT0003.JPG: Read-only file system"},
        {"one delete fails", [](CloudScenario&) { g_failingDeletes = 1; }, 12, 0, 0, 1, 0, 10, 9,
         ";sync;2;Failed to delete /media/sdcard/transmit/PICT0012.JPG: Read-only file system"},
        {"size 10", [](CloudScenario& s) { s.instruction = R"({"size": 10})"; }, 1, 0, 0, 1, 0, 0, 5,
         ";sync;2;Refused instruction for PICT0001.JPG: size 10 is not the file's length"},
        {"size+1", [](CloudScenario& s) { s.instruction = R"({"size": 2001})"; }, 1, 0, 0, 1, 0, 0, 5, "size 2001 is"},
        {"verb", [](CloudScenario& s) { s.instruction = R"({"verb": "PUT /x HTTP/1.1\r\nX-Injected: 1\r\nX: x"})"; },
         1, 0, 0, 1, 0, 0, 5, ";sync;2;Refused instruction for PICT0001.JPG: verb refused"},
        {"host /", [](CloudScenario& s) { s.config = R"({"ssl": {"host": "evil.example/x"}})"; }, 0, 0, 0, 1, 0, 0, 10,
         ";config;2;Refused host: evil.example/x"},
    };
    FakeClock clock;
    for (const Case& c : cases) {
        CloudScenario scenario;
        scenario.storedToken = "tok-stored";
        c.scenario(scenario);
        for (int i = 1; i <= c.refused; ++i) scenario.uploadStatus[name(i)] = 403;
        serve(scenario);
        pictures(c.pictures);
        g_config.uploadPictureCount = 10;
        g_config.requestUpdateReset = kResetUpdate | kResetLog | kResetUpdateModem | kResetUpdateSim;
        root.write("/media/sdcard/log.txt", "");
        EXPECT_EQ(cloud_sync(c.mode), 0) << c.what;
        auto documents = cloud->camera_documents();
        EXPECT_EQ(documents.size(), c.documents) << c.what;
        EXPECT_EQ(cloud->token_requests().size(), c.tokenRequests) << c.what;
        EXPECT_EQ(documents.back().header("Authorization") == "Bearer tok-stored", c.tokenRequests == 0) << c.what;
        EXPECT_EQ(g_config.uploadPictureCount, c.listLength) << c.what;
        EXPECT_NE(root.log().find(c.logged), std::string::npos) << c.what << "\n" << root.log();
        // Acknowledgements ride on every document until one is accepted.
        size_t refused = 0, acknowledging = 0;
        for (const auto& put : documents) {
            const size_t uploads = put.body.find("\"uploads\"");
            EXPECT_TRUE(uploads == std::string::npos || uploads < put.body.find("\"requests\"")) << c.what;
            refused += put.status != 200;
            acknowledging += put.body.find(R"("requests": { "update": { "execute": false }, )"
                                           R"("updateSim": { "execute": false }, "log": { "execute": false }, )"
                                           R"("updateModem": { "execute": false } })") != std::string::npos;
        }
        EXPECT_EQ(acknowledging, refused + 1) << c.what;
        EXPECT_EQ(g_config.requestUpdateReset, 0) << c.what;
        EXPECT_EQ(std::string(g_config.host), cloud->host()) << c.what;
        // No request waits for "100 Continue" or carries a header line of the service's making.
        for (const auto& request : cloud->requests())
            EXPECT_EQ(request.header("Expect") + request.header("X-Injected"), "") << c.what << request.path;
        // The emulator stores only uploads that carry its key header. A picture
        // is stored once at most, and then gone unless its delete failed.
        auto stored = cloud->pictures();
        EXPECT_EQ(stored.size(), c.stored) << c.what;
        std::map<std::string, int> times;
        for (const auto& picture : stored) {
            EXPECT_EQ(picture.bytes, sent[picture.name]) << picture.name;
            EXPECT_EQ(++times[picture.name], 1) << c.what << picture.name;
        }
        for (int i = 1; i <= c.pictures; ++i) {
            const std::string path = "/media/sdcard/transmit/" + name(i);
            EXPECT_EQ(root.exists(path), times[name(i)] == 0 || root.log().find("delete " + path) != std::string::npos)
                << c.what << path;
        }
        g_failingDeletes = 0;
    }
}

// Two fresh tokens refused in a row end the sync; the configuration file is
// written once for them all.
TEST_F(Sync, EveryTokenRefused) {
    CloudScenario scenario;
    scenario.storedToken = "tok-stored";
    scenario.refuseToken = 1000;
    serve(scenario);
    FakeClock clock;
    g_configWrites = 0;
    EXPECT_EQ(cloud_sync(0), -1);
    EXPECT_EQ(cloud->token_requests().size(), 2u);
    EXPECT_EQ(g_configWrites, 1);
}

TEST_F(Sync, TransferFailuresAreReported) {
    CloudScenario scenario;
    scenario.foreignCa = true;
    serve(scenario);
    ASSERT_EQ(http_init(), 1);
    char token[kTokenSize] = "tok";
    // A certificate from another CA: nothing is sent.
    EXPECT_EQ(cloud_camera_exchange(token, 0), -1);
    EXPECT_NE(root.log().find(";PutCamera;2;Put camera failed: SSL peer certificate or SSH remote key was not OK"),
              std::string::npos);
    EXPECT_EQ(cloud_get_token(token), -1);
    EXPECT_TRUE(cloud->requests().empty());
    // An empty token is a token; one with a line break is none.
    scenario.foreignCa = false;
    scenario.tokenAnswer = R"({"token": ""})";
    serve(scenario);
    g_config.s3token[0] = 'x';
    EXPECT_EQ(cloud_get_token(token), 0);
    EXPECT_STREQ(g_config.s3token, "");
    scenario.tokenAnswer = R"({"token": "tok\r\nX-Injected: 1"})";
    serve(scenario);
    EXPECT_EQ(cloud_get_token(token), -1);
    EXPECT_NE(root.log().find(";token;2;Get token failed: -1"), std::string::npos);
    // A token longer than the buffer is refused, never cut.
    scenario.tokenAnswer = R"({"token": ")" + std::string(kTokenSize, 't') + "\"}";
    serve(scenario);
    EXPECT_EQ(cloud_get_token(token), -1);
    EXPECT_NE(root.log().find(";token;2;Get token failed: token of 2049 characters"), std::string::npos);
    // A refused token is forgotten in the configuration file too.
    scenario = CloudScenario{};
    scenario.storedToken = "tok-stored";
    scenario.refuseToken = 1;
    serve(scenario);
    EXPECT_EQ(cloud_camera_exchange(token, 0), -1);
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find(R"("s3token": "")"), std::string::npos);
}

// The service's requests, carried out from a camera record answer and
// acknowledged in the next one.
class Requests : public Sync {
protected:
    void serve_requests(const std::string& requests, CloudScenario scenario = {}) {
        scenario.storedToken = "tok-stored";
        scenario.requests = requests;
        serve(scenario);
    }
    FakeClock clock;
};

// An hour of waiting at most per sync, however often the service asks, and
// the MCU hears from us all along.
TEST_F(Requests, UpdateSimWaitsItsMinutesThenSetsItsBit) {
    struct Case {
        int minutes, answers, waited;
    } cases[] = {{3, 1, 3}, {0, 1, 0}, {61, 1, 60}, {60, 3, 60}};
    for (const Case& c : cases) {
        CloudScenario scenario;
        scenario.repeatRequests = c.answers > 1;  // one answer per picture, each asking again
        scenario.picturesWanted = 1;
        serve_requests(R"({"updateSim": {"execute": true, "content": )" + std::to_string(c.minutes) + "}}", scenario);
        pictures(c.answers);
        g_config.requestUpdateReset = 0;  // the row before left its bit saved
        uint64_t before = clock.slept_us();
        McuEar ear(clock);
        EXPECT_EQ(cloud_sync(0), 0);
        EXPECT_EQ(clock.slept_us() - before, static_cast<uint64_t>(c.waited) * 60000000u) << c.minutes;
        EXPECT_LE(ear.longest_silence(), 5.0) << c.minutes;
        EXPECT_EQ(cloud->camera_documents().size(), static_cast<size_t>(c.answers)) << c.minutes;
        EXPECT_EQ(g_config.requestUpdateReset, kResetUpdateSim) << c.minutes;
    }
}

TEST_F(Requests, LogIsSentOnlyUnderItsOwnName) {
    struct Case {
        const char* name;
        bool sent;
    } cases[] = {
        {"log.txt", true},
        {"messages.txt", false},
        {"log.txt.d/../../../etc/qz_daemon_conf.json", false},
    };
    root.write("/media/sdcard/log.txt.d/x", "");  // a folder whose name begins with "log.txt"
    for (const Case& c : cases) {
        serve_requests(std::string(R"({"log": {"execute": true, "content": [{"name": ")") + c.name + "\"}]}}");
        EXPECT_EQ(cloud_sync(0), 0) << c.name;
        auto stored = cloud->pictures();
        ASSERT_EQ(stored.size(), c.sent ? 1u : 0u) << c.name;
        EXPECT_EQ(g_config.requestUpdateReset, c.sent ? kResetLog : 0) << c.name;
        if (c.sent) {
            EXPECT_NE(stored[0].bytes.find(";log;0;Log request"), std::string::npos);
            EXPECT_EQ(root.log().rfind(stored[0].bytes, 0), 0u);
        }
        g_config.requestUpdateReset = 0;
    }
}

// Each file downloaded flips the bit, and a package among them is installed
// at once: here a modem-side one that places a file under /usrdata/, after
// which the package is gone. Names that are not plain file names write
// nothing; a refused download leaves the file it would have replaced, and no
// half file.
TEST_F(Requests, EachDownloadedUpdateFileFlipsTheBit) {
    root.write("/package/manifest.json", R"({"modem": {"forceUpdate": true}})");
    root.write("/package/marker.txt", "installed");
    ASSERT_EQ(std::system(("tar -czf " + root.path("/package.tgz") + " -C " + root.path("/package") +
                           " manifest.json marker.txt").c_str()),
              0);
    const std::string refused = R"({"name": "../escape.bin"}, {"name": ".."}, {"name": "kept.bin"}, )";
    struct Case {
        const char* content;
        int bits;
        bool installed;
    } cases[] = {
        {R"({"name": "first.bin"})", kResetUpdate, false},
        {R"({"name": "first.bin"}, {"name": "update.tar.gz"})", 0, true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(root.path("/media/sdcard/first.bin"));
        root.write("/media/sdcard/kept.bin", "old");
        root.write("/media/sdcard/log.txt", "");
        CloudScenario scenario;
        scenario.files = {{"first.bin", "one"}, {"update.tar.gz", root.read("/package.tgz")}};
        serve_requests(R"({"update": {"execute": true, "content": [)" + refused + c.content + "]}}", scenario);
        g_config.requestUpdateReset = 0;  // the row before left its bit saved
        EXPECT_EQ(cloud_sync(0), 0);
        std::set<std::string> files;  // on the card besides the log
        for (const auto& item : std::filesystem::directory_iterator(root.path("/media/sdcard")))
            if (item.is_regular_file() && item.path().filename() != "log.txt")
                files.insert(item.path().filename().string());
        EXPECT_EQ(files, (std::set<std::string>{"first.bin", "kept.bin"})) << c.content;
        EXPECT_EQ(root.read("/media/sdcard/first.bin"), "one");
        EXPECT_EQ(root.read("/media/sdcard/kept.bin"), "old");
        EXPECT_FALSE(root.exists("/media/escape.bin"));
        EXPECT_EQ(g_config.requestUpdateReset, c.bits) << c.content;
        EXPECT_EQ(root.exists("/usrdata/marker.txt"), c.installed) << c.content;
        for (const char* line : {";update;2;Refused file name: ../escape.bin\r\n",
                                 ";update;2;Refused file name: ..\r\n",
                                 ";update;2;File transfer failed for /media/sdcard/kept.bin: HTTP status 404; "
                                 "nothing written"})
            EXPECT_NE(root.log().find(line), std::string::npos) << line;
        // The MCU hears of an update in progress while the bit is set.
        mcu.drain();
        mcu_handle_chunk("qz+state\r");
        EXPECT_EQ(mcu.drain(), c.bits ? "2\x04" : "1\x04") << c.content;
    }
    for (const auto& request : cloud->requests()) EXPECT_EQ(request.path.find("escape"), std::string::npos);
}

// HD copies of kept pictures: each request gets a result in the document PUT
// after them, and the copies are deleted once tried.
TEST_F(Requests, PicturesAreAnsweredInOneResultsDocument) {
    ScopedTimeZone utc("UTC");
    StandIns board(root, {"dd", "mkswap", "swapon", "swapoff"});
    board.script("/usrdata/jpegoptim", "exit 0\n");
    SimPicture picture;
    picture.width = 64, picture.height = 48, picture.dateTimeOriginal = "2024:05:01 10:30:00";
    std::filesystem::create_directories(root.path("/media/sdcard/original"));
    for (const std::string name : {"PICT0001.JPG", "PICT0002.JPG"})
        ASSERT_EQ(sim_write_picture(root.path("/media/sdcard/original/" + name).c_str(), picture), 0);
    const std::string date = "2024-05-01T10:30:00.000Z";
    std::string content;
    for (const std::string name : {"PICT0001.JPG", "PICT0002.JPG", "PICT0009.JPG"})
        content += R"({"name": ")" + name + R"(", "date": ")" + date + R"("}, )";
    CloudScenario scenario;
    scenario.uploadStatus["PICT0002.JPG"] = 403;
    serve_requests(R"({"pictures": {"content": [)" + content + R"({"name": "NODATE.JPG"}]}})", scenario);
    EXPECT_EQ(cloud_sync(0), 0);

    auto documents = cloud->camera_documents();
    ASSERT_EQ(documents.size(), 2u);
    auto result = [&date](const std::string& name, const char* message) {
        return R"({"name": ")" + name + R"(", "date": ")" + date + R"(", "success": )" +
               (*message ? "false" : "true") + R"(, "message": ")" + message + R"("})";
    };
    JsonPtr expected = json_parse((R"({"requests": {"pictures": {"result": [)" + result("PICT0001.JPG", "") + ", " +
                                   result("PICT0002.JPG", "uploadFailed") + ", " +
                                   result("PICT0009.JPG", "unavailable") + "]}}}")
                                      .c_str());
    EXPECT_STREQ(documents[1].body.c_str(), json_object_to_json_string(expected.get()));
    auto stored = cloud->pictures();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, "PICT0001.JPG");
    EXPECT_EQ(stored[0].bytes.substr(0, 2), "\xFF\xD8");
    EXPECT_TRUE(std::filesystem::is_empty(root.path("/media/sdcard/transmit")));
    // Two for the attempt, one per request, one per picture sent.
    EXPECT_EQ(mcu.drain(), std::string(2 + 4 + 1, '\x06'));
    EXPECT_NE(root.log().find(";hdod;2;HD picture request failed (PICT0002.JPG): HTTP status 403; reported as uploadFailed"),
              std::string::npos);
}

// A modem package is placed, then the module is restarted into its recovery system.
TEST_F(Requests, UpdateModemPlacesThePackageAndRestartsIntoRecovery) {
    StandIns board(root, {"sync", "sys_reboot"});
    CloudScenario scenario;
    scenario.files = {{"modem.bin", "package"}};
    serve_requests(R"({"updateModem": {"execute": true, "content": [{"name": "modem.bin"}]}})", scenario);
    // A root with a blank in its path: the restart path must reach sync as one argument.
    const std::string spaced = root.path("/with blank");
    std::filesystem::create_directory_symlink(root.root(), spaced);
    device_root_set(spaced);
    EXPECT_EQ(cloud_sync(0), 0);
    EXPECT_EQ(root.read("/usrdata/cache/fota/ipth_package.bin"), "package") << root.log();
    const std::string restartLevel = spaced + "/sys/bus/msm_subsys/devices/subsys1/restart_level";
    EXPECT_EQ(board.calls(), (std::vector<std::string>{"sync \"" + restartLevel + "\"", "sync", "sys_reboot recovery"}));
    EXPECT_EQ(g_config.requestUpdateReset, kResetUpdateModem);
}

}  // namespace
