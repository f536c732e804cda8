#include <gtest/gtest.h>
#include <json-c/json.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "camera_record.h"
#include "cellular_status.h"
#include "cloud_api.h"
#include "cloud_emulator.h"
#include "cloud_sync.h"
#include "config.h"
#include "daemon_state.h"
#include "fake_clock.h"
#include "mcu_protocol.h"
#include "json_util.h"
#include "pty_pair.h"
#include "time_seam.h"
#include "state_reset.h"
#include "test_root.h"
#include "transport.h"

// The sync driver on a clock that advances only by sleeping, and the cloud
// client against the emulator on loopback HTTPS, through the real transport.
namespace {

size_t count_of(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
    return n;
}

// A clock that advances only by sleeping, and raises the data call once
// `upAfter` seconds have been slept (0: up from the start).
class DataCallClock final : public TimeSource {
public:
    explicit DataCallClock(uint64_t upAfter) : upAfterUs_(upAfter * 1000000u) {
        raise_when_due();
        time_source_install(this);
    }
    ~DataCallClock() override { time_source_install(nullptr); }
    void sleep_us(uint64_t microseconds) override {
        sleptUs_ += microseconds;
        raise_when_due();
    }
    uint64_t monotonic_us() override { return sleptUs_; }
    int set_system_clock(time_t) override { return 0; }
    uint64_t slept_us() const { return sleptUs_; }

private:
    void raise_when_due() {
        if (sleptUs_ >= upAfterUs_) g_cellular.dataCallUp = 1;
    }
    uint64_t upAfterUs_;
    uint64_t sleptUs_ = 0;
};

// The service is unreachable (nothing listens on port 1): every attempt fails at once.
class SyncDriver : public ::testing::Test {
protected:
    void SetUp() override {
        config_reset();
        cellular_status_reset();
        copy_text(g_config.host, sizeof g_config.host, "127.0.0.1:1");
        g_state.mcuFd = mcu.daemon_side();
    }
    void TearDown() override {
        g_state.mcuFd = -1;
        cellular_status_reset();
        config_reset();
    }
    std::string log() { return root.read("/media/sdcard/log.txt"); }

    TestRoot root;
    PtyPair mcu;
};

TEST_F(SyncDriver, WaitsAndAttemptsWithinTheBudget) {
    constexpr uint64_t kNever = 1000000;
    struct Case {
        uint64_t upAfter;
        size_t acks;
        size_t attempts;
    } cases[] = {
        {kNever, 180 + 2 + 1, 1},  // a budget spent on waiting still allows one attempt
        {178, 178 + 2 + 1, 1},
        {179, 179, 0},  // the flag rises exactly as the budget reaches 0
    };
    for (const Case& c : cases) {
        DataCallClock clock(c.upAfter);
        cellular_status_reset();
        root.write("/media/sdcard/log.txt", "");
        EXPECT_EQ(cloud_sync(0), -1) << c.upAfter;
        std::string sent = mcu.drain();
        EXPECT_EQ(sent, std::string(c.acks, '\x06')) << c.upAfter;
        EXPECT_EQ(count_of(log(), ";token;2;Get token failed: Couldn't connect to server"), c.attempts)
            << c.upAfter;
    }
}

TEST_F(SyncDriver, FailingAttemptsAreASecondApart) {
    DataCallClock clock(0);
    EXPECT_EQ(cloud_sync(0), -1);
    EXPECT_EQ(count_of(log(), ";token;2;Get token failed: "), 179u);
    EXPECT_EQ(clock.slept_us(), 179u * 1000000u);
    EXPECT_EQ(mcu.drain().size(), 179u * 3);
}

// Each "firstsync" records its own time as the installation date, then syncs
// (here: 180 s without a data call, keep-alive bytes, one failed attempt).
TEST_F(SyncDriver, EveryFirstSyncMovesTheInstallDate) {
    FakeClock clock;
    clock.pin_wall(1715072580);
    for (int32_t expected : {1715072580, 1715072580 + 180}) {
        mcu_handle_chunk("qz+firstsync\r");
        EXPECT_EQ(mcu.drain(), std::string(183, '\x06') + "\x04");
        EXPECT_EQ(g_config.powerOnTime, expected);
        EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"powerOnTime\": " + std::to_string(expected)),
                  std::string::npos);
    }
    std::string text = log();
    size_t start = text.find(";firstsync;0;Start first sync");
    size_t attempt = text.find(";token;2;Get token failed: ", start);
    EXPECT_NE(start, std::string::npos);
    EXPECT_NE(attempt, std::string::npos);
    EXPECT_NE(text.find(";firstsync;0;End first sync", attempt), std::string::npos);
}

class Cloud : public ::testing::Test {
protected:
    void TearDown() override {
        http_cleanup();
        g_state.mcuFd = -1;
        cellular_status_reset();
        config_reset();
    }
    // Starts the service and points the device at it; the data call is up.
    void start(CloudScenario scenario = {}) {
        cloud = std::make_unique<CloudEmulator>(scenario);
        ASSERT_TRUE(cloud->start());
        ASSERT_TRUE(cloud_emulator_attach(*cloud, scenario, root.root()));
        config_reset();
        config_load();
        copy_text(g_state.imei, sizeof g_state.imei, "861234567890123");
        g_state.mcuFd = mcu.daemon_side();
        g_cellular.dataCallUp = 1;
    }
    // Transmit copies PICT0001.JPG.. of `size` bytes, each newer than the one before.
    void pictures(int count, size_t size = 2000) {
        for (int i = 1; i <= count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "PICT%04d.JPG", i);
            root.write(std::string("/media/sdcard/transmit/") + name, std::string(size, static_cast<char>('a' + i)));
            utimbuf times{};
            times.actime = times.modtime = 1715000000 + i;
            utime(root.path(std::string("/media/sdcard/transmit/") + name).c_str(), &times);
        }
    }
    size_t left_in_transmit() {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(root.path("/media/sdcard/transmit/"))) {
            (void)entry;
            ++n;
        }
        return n;
    }
    std::string log() { return root.read("/media/sdcard/log.txt"); }
    JsonPtr document(size_t index) { return json_parse(cloud->camera_documents().at(index).body.c_str()); }

    TestRoot root;
    FakeClock clock;
    PtyPair mcu;
    std::unique_ptr<CloudEmulator> cloud;
};

TEST_F(Cloud, TransportKeepsAnswersOfEveryStatusAndDropsNothingSilently) {
    CloudScenario scenario;
    scenario.dropCamera = 1;
    start(scenario);
    ASSERT_EQ(http_init(), 1);
    JsonPtr answer;
    JsonPtr empty(json_object_new_object());
    std::string url = cloud_api_url("camera");
    // Broken off mid-answer: result 0 and libcurl's reason.
    EXPECT_EQ(http_put_json(url.c_str(), &answer, empty.get(), "x"), kHttpFailed);
    EXPECT_STREQ(http_last_error_text(), "Transferred a partial file");
    // An unknown token is refused with a JSON body: completed, body handed back.
    EXPECT_EQ(http_put_json(url.c_str(), &answer, empty.get(), "x"), kHttpCompleted);
    EXPECT_EQ(http_last_status(), 401);
    EXPECT_STREQ(json_member_string(answer.get(), "error"), "unknown token");
    EXPECT_FALSE(http_last_accepted());
    EXPECT_STREQ(http_last_failure_text(), "HTTP status 401");
}

TEST_F(Cloud, ACertificateFromAnotherCaFailsEveryTransferAndSendsNothing) {
    CloudScenario scenario;
    scenario.foreignCa = true;
    scenario.storedToken = "tok-stored";
    start(scenario);
    pictures(1);
    ASSERT_EQ(http_init(), 1);
    char stored[kTokenSize] = "tok-stored";
    EXPECT_EQ(cloud_camera_exchange(stored, 0), -1);
    EXPECT_NE(log().find(";PutCamera;2;Put camera failed: SSL peer certificate or SSH remote key was not OK"),
              std::string::npos);
    char token[kTokenSize] = {};
    EXPECT_EQ(cloud_get_token(token), -1);
    FILE* file = std::fopen(root.path("/media/sdcard/transmit/PICT0001.JPG").c_str(), "rb");
    EXPECT_EQ(http_upload_file(("https://" + cloud->host() + "/storage/0/PICT0001.JPG").c_str(), "PUT", file,
                               2000, nullptr),
              kHttpFailed);
    std::fclose(file);
    EXPECT_TRUE(cloud->requests().empty());
}

TEST_F(Cloud, StoredTokenIsUsedWithoutAskingForOne) {
    CloudScenario scenario;
    scenario.storedToken = "tok-stored";
    start(scenario);
    EXPECT_EQ(cloud_sync(0), 0);
    EXPECT_TRUE(cloud->token_requests().empty());
    ASSERT_EQ(cloud->camera_documents().size(), 1u);
    EXPECT_EQ(cloud->camera_documents()[0].header("Authorization"), "Bearer tok-stored");
    EXPECT_NE(log().find(";sync;1;Nothing to upload"), std::string::npos);
}

TEST_F(Cloud, AnEmptyTokenIsKeptAndSentAsAnEmptyBearer) {
    CloudScenario scenario;
    scenario.tokenAnswer = R"({"token": ""})";
    start(scenario);
    g_config.s3token[0] = 'x';
    char token[kTokenSize] = {'y'};
    ASSERT_EQ(http_init(), 1);
    EXPECT_EQ(cloud_get_token(token), 0);
    EXPECT_STREQ(token, "");
    EXPECT_STREQ(g_config.s3token, "");
    EXPECT_EQ(cloud_camera_exchange(token, 0), -1);
    std::string bearer = cloud->camera_documents().at(0).header("Authorization");
    EXPECT_TRUE(bearer == "Bearer" || bearer == "Bearer ") << bearer;
}

TEST_F(Cloud, RefusedTokenIsReplacedAndTheNextAttemptSucceeds) {
    for (int refusal : {401, 403}) {
        CloudScenario scenario;
        scenario.storedToken = "tok-revoked";
        scenario.refuseToken = 1;
        scenario.refuseStatus = refusal;
        start(scenario);
        EXPECT_EQ(cloud_sync(0), 0) << refusal;
        EXPECT_EQ(cloud->token_requests().size(), 1u) << refusal;
        auto documents = cloud->camera_documents();
        ASSERT_EQ(documents.size(), 2u) << refusal;
        EXPECT_NE(documents[1].header("Authorization"), "Bearer tok-revoked") << refusal;
        std::string text = log();
        EXPECT_NE(text.find(";camapi;0;Reset token"), std::string::npos) << refusal;
        EXPECT_NE(text.find(";PutCamera;2;Put camera failed: HTTP status " + std::to_string(refusal)),
                  std::string::npos);
        EXPECT_EQ(root.read("/etc/qz_daemon_conf.json").find("tok-revoked"), std::string::npos) << refusal;
        root.write("/media/sdcard/log.txt", "");
    }
}

TEST_F(Cloud, ServerErrorsAreFailedAttemptsRetriedASecondApart) {
    CloudScenario scenario;
    scenario.storedToken = "tok-stored";
    scenario.serverErrors = 2;
    start(scenario);
    EXPECT_EQ(cloud_sync(0), 0);
    EXPECT_EQ(cloud->camera_documents().size(), 3u);
    EXPECT_EQ(count_of(log(), ";PutCamera;2;Put camera failed: HTTP status 500"), 2u);
    EXPECT_GE(clock.slept_us(), 2000000u);
    // The stored token was not the service's fault.
    EXPECT_TRUE(cloud->token_requests().empty());
}

TEST_F(Cloud, AnswersThatAreNotJsonOrCarryConfigAreActedOn) {
    CloudScenario scenario;
    scenario.storedToken = "tok-stored";
    scenario.notJson = 1;
    start(scenario);
    EXPECT_EQ(cloud_sync(0), 0);
    EXPECT_NE(log().find(";sync;1;Nothing to upload"), std::string::npos);

    scenario.notJson = 0;
    scenario.config = R"({"transmitFreq": 3, "temperatureUnit": "C"})";
    start(scenario);
    EXPECT_EQ(cloud_sync(0), 0);
    EXPECT_EQ(g_config.syncFreq, 3);
    EXPECT_NE(log().find(";config;0;{ \"transmitFreq\": 3, \"temperatureUnit\": \"C\" }"), std::string::npos);
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"tempUnit\": \"C\""), std::string::npos);
}

TEST_F(Cloud, AcknowledgementsStayUntilAPutCarryingThemIsAccepted) {
    CloudScenario scenario;
    scenario.storedToken = "tok-stored";
    scenario.serverErrors = 1;
    start(scenario);
    g_config.requestUpdateReset = kResetLog | kResetUpdateSim;
    EXPECT_EQ(cloud_sync(0), 0);
    auto documents = cloud->camera_documents();
    ASSERT_EQ(documents.size(), 2u);
    for (const auto& put : documents)
        EXPECT_NE(put.body.find(R"("requests": { "updateSim": { "execute": false }, "log": { "execute": false } })"),
                  std::string::npos);
    EXPECT_EQ(g_config.requestUpdateReset, 0);
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"requestUpdateReset\": 0"), std::string::npos);
}

TEST_F(Cloud, FirstSyncSendsOnlyTheNewestPictureWithTheInstructionsHeaders) {
    CloudScenario scenario;
    scenario.storedToken = "tok-stored";
    start(scenario);
    pictures(3);
    EXPECT_EQ(cloud_sync(1), 0);
    ASSERT_EQ(cloud->camera_documents().size(), 1u);
    auto stored = cloud->pictures();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, "PICT0003.JPG");
    EXPECT_EQ(stored[0].bytes, std::string(2000, 'd'));
    // The emulator checks the instruction's key header; its own headers arrived as sent.
    bool typed = false;
    for (const auto& [name, value] : stored[0].headers) typed |= name == "Content-Type" && value == "image/jpeg";
    EXPECT_TRUE(typed);
    EXPECT_EQ(left_in_transmit(), 2u);
    EXPECT_EQ(mcu.drain(), std::string(2 + 1, '\x06'));
}

TEST_F(Cloud, ListLengthAdaptsToHowTheLastListWent) {
    struct Case {
        int pictures;
        int refused;  // the oldest ones
        size_t documents;
        int count;
    } cases[] = {
        {12, 0, 2, 15},  // 10 of 10 sent: 15, and a new list for the other two
        {10, 7, 2, 5},   // 3 of 10: 5, a new list of 5 refused ones, nothing sent: the end
        {10, 10, 1, 5},  // 0 of 10: the exchange ends
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root.path("/media/sdcard/transmit"));
        CloudScenario scenario;
        scenario.storedToken = "tok-stored";
        for (int i = 1; i <= c.refused; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "PICT%04d.JPG", i);
            scenario.uploadStatus[name] = 403;
        }
        start(scenario);
        pictures(c.pictures);
        g_config.uploadPictureCount = 10;
        EXPECT_EQ(cloud_sync(0), 0) << c.pictures << "/" << c.refused;
        EXPECT_EQ(cloud->camera_documents().size(), c.documents) << c.refused;
        EXPECT_EQ(g_config.uploadPictureCount, c.count) << c.refused;
        EXPECT_EQ(cloud->pictures().size(), static_cast<size_t>(c.pictures - c.refused)) << c.refused;
        EXPECT_EQ(left_in_transmit(), static_cast<size_t>(c.refused)) << c.refused;
        if (c.refused) {
            EXPECT_NE(log().find(";sync;2;File transfer failed: HTTP status 403"), std::string::npos);
        }
    }
}

}  // namespace
