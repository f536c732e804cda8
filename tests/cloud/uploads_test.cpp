#include <gtest/gtest.h>
#include <json-c/json.h>

#include <string>

#include "core/config.h"
#include "core/json_util.h"
#include "tests/support/state_reset.h"
#include "tests/support/test_root.h"
#include "cloud/uploads.h"

namespace {

// Instructions that cannot be carried out are skipped before any transfer:
// the transport has no handle here, so anything that reached it would log a fatal error.
TEST(Uploads, UnusableInstructionsAreSkippedAndThePictureStays) {
    TestRoot root;
    root.write("/media/sdcard/transmit/PICT0001.JPG", std::string(100, 'j'));
    const char* target = R"("host": "https://127.0.0.1:1", "path": "/s/1", "verb": "PUT")";
    struct Case {
        std::string instruction;
        const char* logged;  // null: skipped without a word
    } cases[] = {
        {std::string(R"({"name": "NOPE.JPG", "size": 100, )") + target + "}",
         ";sync;2;Failed to open file: /media/sdcard/transmit/NOPE.JPG"},
        {R"({"name": "PICT0001.JPG", "host": "https://127.0.0.1:1", "path": "/s/1", "verb": "PUT"})", nullptr},
        {std::string(R"({"name": ")") + std::string(256, 'a') + R"(", "size": 1, )" + target + "}",
         ";sync;2;Refused file name: aaaa"},
        {std::string(R"({"name": "../etc/qz_daemon_conf.json", "size": 1, )") + target + "}",
         ";sync;2;Refused file name: ../etc/qz_daemon_conf.json"},
        {std::string(R"({"name": "..", "size": 1, )") + target + "}", ";sync;2;Refused file name: .."},
        {std::string(R"({"name": "PICT\r0001.JPG", "size": 1, )") + target + "}",
         ";sync;2;Refused file name: PICT?0001.JPG\r\n"},
        {std::string(R"({"name": "PICT0001.JPG", "size": 100, "headers": [{"name": "X-A", "value": "1\r\nX-B: 2"}], )") +
             target + "}",
         ";sync;2;Refused instruction for PICT0001.JPG: header lines refused"},
        {std::string(R"({"name": "PICT0001.JPG", "size": 100, "headers": [{"name": "transfer-ENCODING", "value": "x"}], )") +
             target + "}",
         ";sync;2;Refused header transfer-ENCODING for PICT0001.JPG"},
        {std::string(R"({"name": "PICT0001.JPG", "size": 100, "headers": [{"name": "Proxy-Authorization", "value": "x"}], )") +
             target + "}",
         ";sync;2;Refused header Proxy-Authorization for PICT0001.JPG"},
        {std::string(R"({"name": "PICT0001.JPG", "size": 100, "headers": [{"name": "X Y:", "value": "x"}], )") + target + "}",
         ";sync;2;Refused header X Y: for PICT0001.JPG"},
        {std::string(R"({"name": "PICT0001.JPG", "size": "100", )") + target + "}",
         ";sync;2;Refused instruction for PICT0001.JPG: size \"100\" is not the file's length"},
    };
    for (const Case& c : cases) {
        config_reset();
        g_config.uploadPictureCount = 20;
        root.write("/media/sdcard/log.txt", "");
        JsonPtr instructions = json_parse(("[" + c.instruction + "]").c_str());
        // As if each picture had been offered: a name from the card may be anything.
        EXPECT_TRUE(uploads_carry_out(instructions.get(), instructions.get(), 0)) << c.instruction;
        std::string log = root.log();
        EXPECT_NE(log.find(";upload;0;Picture to upload: 1"), std::string::npos) << c.instruction;
        if (c.logged) {
            EXPECT_NE(log.find(c.logged), std::string::npos) << c.instruction << "\n" << log;
        }
        EXPECT_EQ(log.find("File transfer failed"), std::string::npos) << c.instruction;
        EXPECT_TRUE(root.exists("/media/sdcard/transmit/PICT0001.JPG")) << c.instruction;
        EXPECT_EQ(g_config.uploadPictureCount, 5) << c.instruction;
    }
    config_reset();
}

}  // namespace
