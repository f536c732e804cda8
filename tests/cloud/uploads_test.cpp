#include <gtest/gtest.h>
#include <json-c/json.h>
#include <sys/stat.h>
#include <utime.h>

#include <filesystem>
#include <string>

#include "config.h"
#include "json_util.h"
#include "state_reset.h"
#include "test_root.h"
#include "uploads.h"

namespace {

TEST(PlainFileName, OnlyPlainNamesNameFiles) {
    struct Case {
        std::string name;
        bool plain;
    } cases[] = {
        {"PICT0001.JPG", true},   {"..hidden", true},       {std::string(255, 'a'), true},
        {"", false},              {".", false},             {"..", false},
        {"../log.txt", false},    {"a/b", false},           {"/etc/passwd", false},
        {"PICT\n0001.JPG", false}, {"PICT\x7f", false},     {std::string(256, 'a'), false},
    };
    for (const Case& c : cases) EXPECT_EQ(plain_file_name(c.name.c_str()), c.plain) << c.name;
}

class UploadsList : public ::testing::Test {
protected:
    void SetUp() override { config_reset(); }
    void TearDown() override { config_reset(); }
    // A transmit copy of `size` bytes modified `age` seconds ago.
    void picture(const std::string& name, size_t size, long age) {
        std::string path = "/media/sdcard/transmit/" + name;
        root.write(path, std::string(size, 'j'));
        utimbuf times{};
        times.actime = times.modtime = 1715000000 - age;
        utime(root.path(path).c_str(), &times);
    }
    std::string offered(int mode, int expected) {
        JsonPtr document(json_object_new_object());
        EXPECT_EQ(uploads_list_add(document.get(), mode), expected);
        return json_object_to_json_string(document.get());
    }

    TestRoot root;
};

TEST_F(UploadsList, NewestFirstWithinTheLimit) {
    picture("PICT0001.JPG", 100, 300);
    picture("PICT0002.JPG", 200, 200);
    picture("PICT0003.JPG", 300, 100);
    picture("PICT0004.JPG", 400, 100);
    EXPECT_EQ(offered(1, 1), R"({ "uploads": [ { "name": "PICT0004.JPG", "size": 400 } ] })");
    g_config.uploadPictureCount = 0;  // fresh device: no limit
    EXPECT_EQ(offered(0, 1),
              R"({ "uploads": [ { "name": "PICT0004.JPG", "size": 400 }, )"
              R"({ "name": "PICT0003.JPG", "size": 300 }, { "name": "PICT0002.JPG", "size": 200 }, )"
              R"({ "name": "PICT0001.JPG", "size": 100 } ] })");
    g_config.uploadPictureCount = 2;
    EXPECT_NE(offered(0, 1).find("PICT0003.JPG\", \"size\": 300 } ] }"), std::string::npos);
    EXPECT_NE(root.read("/media/sdcard/log.txt").find(";uploads;0;2 [ { \"name\": \"PICT0004.JPG\""),
              std::string::npos);
}

TEST_F(UploadsList, EmptyCopiesAreDeletedAndNothingIsOffered) {
    std::filesystem::create_directories(root.path("/media/sdcard/transmit"));
    EXPECT_EQ(offered(0, -1), "{ }");
    picture("PICT0001.JPG", 0, 10);
    EXPECT_EQ(offered(0, -2), "{ }");
    EXPECT_FALSE(root.exists("/media/sdcard/transmit/PICT0001.JPG"));
    std::filesystem::remove_all(root.path("/media/sdcard/transmit"));
    EXPECT_EQ(offered(0, -1), "{ }");
    EXPECT_NE(root.read("/media/sdcard/log.txt").find(";uploads;2;Unable to access process path"),
              std::string::npos);
}

}  // namespace

namespace {

// Instructions that cannot be carried out are skipped before any transfer:
// the transport has no handle here, so anything that reached it would log a fatal error.
TEST_F(UploadsList, UnusableInstructionsAreSkippedAndThePictureStays) {
    picture("PICT0001.JPG", 100, 10);
    const char* target = R"("host": "https://127.0.0.1:1", "path": "/s/1", "verb": "PUT")";
    struct Case {
        std::string instruction;
        const char* logged;  // null: skipped without a word
    } cases[] = {
        {std::string(R"({"name": "NOPE.JPG", "size": 100, )") + target + "}",
         ";sync;2;Failed to open file: /media/sdcard/transmit/NOPE.JPG"},
        {R"({"name": "PICT0001.JPG", "host": "https://127.0.0.1:1", "path": "/s/1", "verb": "PUT"})", nullptr},
        {std::string(R"({"name": "../etc/qz_daemon_conf.json", "size": 1, )") + target + "}",
         ";sync;2;Refused file name: ../etc/qz_daemon_conf.json"},
        {std::string(R"({"name": "..", "size": 1, )") + target + "}", ";sync;2;Refused file name: .."},
        {std::string(R"({"name": "PICT\r0001.JPG", "size": 1, )") + target + "}",
         ";sync;2;Refused file name: PICT?0001.JPG"},
        {std::string(R"({"name": "PICT0001.JPG", "size": 100, "headers": [{"name": "X-A", "value": "1\r\nX-B: 2"}], )") +
             target + "}",
         ";sync;2;Refused instruction for PICT0001.JPG: header lines refused"},
    };
    for (const Case& c : cases) {
        config_reset();
        g_config.uploadPictureCount = 20;
        root.write("/media/sdcard/log.txt", "");
        JsonPtr instructions = json_parse(("[" + c.instruction + "]").c_str());
        EXPECT_TRUE(uploads_carry_out(instructions.get(), 0)) << c.instruction;
        std::string log = root.read("/media/sdcard/log.txt");
        EXPECT_NE(log.find(";upload;0;Picture to upload: 1"), std::string::npos) << c.instruction;
        if (c.logged) {
            EXPECT_NE(log.find(c.logged), std::string::npos) << c.instruction << "\n" << log;
        }
        EXPECT_EQ(log.find("File transfer failed"), std::string::npos) << c.instruction;
        EXPECT_TRUE(root.exists("/media/sdcard/transmit/PICT0001.JPG")) << c.instruction;
        EXPECT_EQ(g_config.uploadPictureCount, 5) << c.instruction;
    }
    EXPECT_FALSE(root.exists("/etc/qz_daemon_conf.json"));
}

}  // namespace
