#include <gtest/gtest.h>
#include <json-c/json.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/json_util.h"
#include "tests/support/state_reset.h"
#include "tests/support/test_root.h"

// Linked with --wrap=fsync and --wrap=rename: the order in which a save reaches the disk.
static std::vector<std::string> g_diskSteps;
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) {
    struct stat info {};
    fstat(fd, &info);
    g_diskSteps.push_back(S_ISDIR(info.st_mode) ? "folder fsync" : "data fsync");
    return __real_fsync(fd);
}
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to) {
    g_diskSteps.push_back("rename");
    return __real_rename(from, to);
}

namespace {

constexpr const char* kFile = "/etc/qz_daemon_conf.json";

class Config : public ::testing::Test {
protected:
    TestRoot root;
};

TEST_F(Config, SaveWritesAllKeysInOrderOnOneLineAndLoadsBack) {
    config_load();  // no file: no defaults either
    config_save();
    EXPECT_EQ(root.read(kFile),
              "{ \"powerOnTime\": 0, \"tempUnit\": \"\", \"firstSyncHour\": 0, \"firstSyncMin\": 0, "
              "\"syncFreq\": 0, \"battType\": 0, \"s3token\": \"\", \"host\": \"\", "
              "\"requestUpdateReset\": 0, \"mcuVersion\": 0, \"remainRetry\": 0, "
              "\"exifDateDrift\": 0, \"inaccurateDate\": 0, \"uploadPictureCount\": 0 }");
    // Each value is saved under its own key and loads back into its own field.
    g_config = DaemonConfig{"F", 1, 2, 3, 4, "tok", "h.example", 5, 6, 7, 0, 0, 8, 0, 0, 0, 9, 10, 0, 11};
    config_save();
    const std::string file = root.read(kFile);
    EXPECT_EQ(file, "{ \"powerOnTime\": 8, \"tempUnit\": \"F\", \"firstSyncHour\": 1, \"firstSyncMin\": 2, "
                    "\"syncFreq\": 3, \"battType\": 4, \"s3token\": \"tok\", \"host\": \"h.example\", "
                    "\"requestUpdateReset\": 5, \"mcuVersion\": 9, \"remainRetry\": 11, "
                    "\"exifDateDrift\": 6, \"inaccurateDate\": 10, \"uploadPictureCount\": 7 }");
    config_reset();
    config_load();
    config_save();
    EXPECT_EQ(root.read(kFile), file);
}

// A power cut after the rename must find the new file's data on the card.
TEST_F(Config, SaveSyncsItsDataBeforeTheRenameAndTheFolderAfter) {
    g_diskSteps.clear();
    EXPECT_EQ(config_save(), 0);
    EXPECT_EQ(g_diskSteps, (std::vector<std::string>{"data fsync", "rename", "folder fsync"}));
}

TEST_F(Config, MissingKeysTakeTheirDefaults) {
    root.write(kFile, "{ \"powerOnTime\": 1700000000, \"firstSyncHour\": 7, \"s3token\": \"tok\", "
                      "\"syncFreq\": \"4\" }\nsecond line ignored");
    g_config.syncFreq = 9;
    config_load();
    EXPECT_STREQ(g_config.tempUnit, "C");
    EXPECT_EQ(g_config.uploadPictureCount, 50);
    EXPECT_EQ(g_config.powerOnTime, 1700000000);
    EXPECT_EQ(g_config.firstSyncHour, 7);
    EXPECT_STREQ(g_config.s3token, "tok");
    EXPECT_EQ(g_config.syncFreq, 9);  // a string is no integer: left as it was
    config_reset();
    root.write(kFile, "garbage");
    config_load();
    EXPECT_STREQ(g_config.tempUnit, "C");
    EXPECT_EQ(g_config.uploadPictureCount, 50);
}

TEST_F(Config, LongTextsAreCutToTheirFields) {
    std::string token(2100, 't'), host(400, 'h');
    root.write(kFile, "{ \"s3token\": \"" + token + "\", \"host\": \"" + host + "\", \"tempUnit\": \"Celsius\" }");
    config_load();
    EXPECT_EQ(std::string(g_config.s3token), token.substr(0, 2048));
    EXPECT_EQ(std::string(g_config.host), host.substr(0, 254));
    EXPECT_STREQ(g_config.tempUnit, "Ce");
    char buffer[300];
    config_getHost(buffer, 10);
    EXPECT_EQ(std::string(buffer), host.substr(0, 9));
    config_reset();
    config_getHost(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, kDefaultCloudHost);
}

bool strict_json(const std::string& text) {
    std::unique_ptr<json_tokener, void (*)(json_tokener*)> tokener(json_tokener_new(), json_tokener_free);
    json_tokener_set_flags(tokener.get(), JSON_TOKENER_STRICT | JSON_TOKENER_VALIDATE_UTF8);
    return JsonPtr(json_tokener_parse_ex(tokener.get(), text.c_str(), static_cast<int>(text.size()))) != nullptr;
}

// A text member that is not well-formed UTF-8 or holds a control character
// counts as missing, and a cut never splits a character: the file stays JSON.
TEST_F(Config, RequestTextsThatAreNotCleanUtf8CountAsMissing) {
    const std::pair<const char*, const char*> cases[] = {
        {"\xff", "F"},     {"\xc0\xaf", "F"}, {"\xed\xa0\x80", "F"},         {"\xf4\x90\x80\x80", "F"}, {"C\\t", "F"},
        {"C\\u0000", "F"}, {"\x7f", "F"},     {"\xc2\xb0" "C", "\xc2\xb0"}, {"\xe2\x82\xac", ""},     {"C", "C"},
    };
    for (const auto& [unit, kept] : cases) {
        root.write(kFile, "{ \"tempUnit\": \"F\", \"host\": \"old.example\" }");
        root.write("/media/sdcard/CONFIG.REQ", std::string("{\"config\": {\"temperatureUnit\": \"") +
                                                   unit + "\", \"ssl\": {\"host\": \"" + unit + "\"}}}");
        config_load();
        EXPECT_STREQ(g_config.tempUnit, kept) << unit;
        EXPECT_TRUE(strict_json(root.read(kFile))) << unit;
        EXPECT_EQ(std::string(g_config.host) == "old.example", std::strcmp(unit, "C") != 0) << unit;
    }
}

TEST_F(Config, OneShotRequestWinsAndIsDeleted) {
    root.write("/media/sdcard/CONFIG.REQ", "{\"config\": {\"transmitFreq\": 3}}\n");
    root.write("/media/sdcard/CONFIGPR.REQ", "{\"config\": {\"transmitFreq\": 4}}\n");
    config_load();
    EXPECT_EQ(g_config.syncFreq, 3);
    EXPECT_FALSE(root.exists("/media/sdcard/CONFIG.REQ"));
    EXPECT_NE(root.read(kFile).find("\"syncFreq\": 3"), std::string::npos);
    EXPECT_NE(root.log().find(";config;0;{ \"transmitFreq\": 3 }"), std::string::npos);

    config_reset();  // next start
    config_load();
    EXPECT_EQ(g_config.syncFreq, 4);
    EXPECT_TRUE(root.exists("/media/sdcard/CONFIGPR.REQ"));
}

// With no /etc no save succeeds: only a request that was applied waits for the next start.
TEST_F(Config, OneShotRequestWhoseSaveFailedIsKeptForTheNextStart) {
    std::filesystem::remove_all(root.path("/etc"));
    const std::pair<const char*, bool> cases[] = {
        {"", false}, {"not json", false}, {"{\"other\": 1}", false}, {"{\"config\": 5}", false},
        {"{\"config\": {\"transmitFreq\": 3}}\n", true}};
    for (const auto& [content, kept] : cases) {
        root.write("/media/sdcard/CONFIG.REQ", content);
        config_load();
        EXPECT_EQ(root.exists("/media/sdcard/CONFIG.REQ"), kept) << content;
    }
    EXPECT_EQ(g_config.syncFreq, 3);
}

TEST_F(Config, SymbolicLinkIsKeptAndItsTargetReplaced) {
    struct Link {
        std::string target;  // as the link holds it
        std::string real;    // the file it names
    };
    const Link links[] = {{root.path("/usrdata/conf/qz.json"), "/usrdata/conf/qz.json"},
                          {"../usrdata/relative.json", "/usrdata/relative.json"}};
    std::filesystem::create_directories(root.path("/usrdata/conf"));
    for (const Link& link : links) {
        std::filesystem::remove(root.path(kFile));
        std::filesystem::create_symlink(link.target, root.path(kFile));
        const std::string token = std::to_string(link.target.size());
        config_setToken(token.c_str());
        EXPECT_EQ(config_save(), 0);
        EXPECT_TRUE(std::filesystem::is_symlink(root.path(kFile))) << link.target;
        EXPECT_NE(root.read(link.real).find("\"s3token\": \"" + token + "\""),
                  std::string::npos) << link.target;
    }
}

struct ApplyCase {
    const char* config;
    int32_t syncFreq;
    int32_t battType;
};

TEST_F(Config, ApplyTransmitFrequencyAndBatteryType) {
    const ApplyCase cases[] = {
        {"{\"transmitFreq\": 0}", 6, 0},
        {"{}", 6, 0},
        {"{\"transmitFreq\": 3}", 3, 0},
        {"{\"transmitFreq\": \"3\"}", 6, 0},
        {"{\"transmitFreq\": 4294967299}", 6, 0},  // does not fit: missing, not cut to 3
        {"{\"batteryType\": \"12V\"}", 6, 1},
        {"{\"batteryType\": \"12v\"}", 6, 0},
        {"{\"batteryType\": \"AA_LIT\"}", 6, 3},
        {"{\"batteryType\": \"KRB10\"}", 6, 2},
    };
    for (const auto& c : cases) {
        g_config.battType = 0;
        config_apply(c.config);
        EXPECT_EQ(g_config.syncFreq, c.syncFreq) << c.config;
        EXPECT_EQ(g_config.battType, c.battType) << c.config;
    }
}

TEST_F(Config, TransmitTimeWithOnlyAnHourKeepsTheMinuteAndNoJsonKeepsBoth) {
    g_config.firstSyncMin = 45;
    config_apply("{\"transmitTime\": {\"hour\": 7}, \"temperatureUnit\": \"F\", \"ssl\": {\"host\": \"h-1.example:8443\"}}");
    EXPECT_EQ(g_config.firstSyncHour, 7);
    EXPECT_EQ(g_config.firstSyncMin, 45);
    EXPECT_STREQ(g_config.tempUnit, "F");
    EXPECT_STREQ(g_config.host, "h-1.example:8443");
    std::string log = root.log();
    EXPECT_NE(log.find(";config;1;config_getFirstSyncMinute - minute object not found"), std::string::npos);
    EXPECT_EQ(log.find("hour object not found"), std::string::npos);
    config_apply("not json");
    EXPECT_EQ(config_applied(), nullptr);
    EXPECT_EQ(g_config.syncFreq, 6);
    EXPECT_EQ(g_config.firstSyncHour, 7);
    EXPECT_NE(root.log().find("hour object not found"), std::string::npos);
}

TEST_F(Config, ToggleGrowAndSet) {
    config_toggleRequestUpdateReset(1);
    config_toggleRequestUpdateReset(1);
    config_toggleRequestUpdateReset(kResetLog);
    EXPECT_NE(root.read(kFile).find("\"requestUpdateReset\": 2"), std::string::npos);

    const int grow[][3] = {{10, 20, 25}, {48, 50, 50}, {0, -10, 5}, {30, 2, 30}};
    for (const auto& g : grow) {
        g_config.uploadPictureCount = g[0];
        config_growUploadPictureCount(g[1]);
        EXPECT_EQ(config_getUploadPictureCount(), g[2]) << g[0] << " " << g[1];
    }
    const int set[][2] = {{2, 5}, {51, 50}, {20, 20}};
    for (const auto& s : set) {
        config_setUploadPictureCount(s[0]);
        EXPECT_EQ(config_getUploadPictureCount(), s[1]);
    }
}

// Before the first sync the module counts as installed now.
TEST_F(Config, InstallTimeDefaultsToNow) {
    EXPECT_GT(config_getInstallTime(), 1600000000);
}

}  // namespace
