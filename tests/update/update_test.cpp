#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fake_clock.h"
#include "loader_peer.h"
#include "update.h"

namespace {

const std::string kFirmware = hex_record(0x0100, {1, 2, 3, 4, 5, 6}) + hex_record(0x0106, {7, 8}) + ":00000001FF\r\n";

class UpdateCheck : public ::testing::Test {
protected:
    // A package as the build makes one: manifest, MCU firmware, a post-update
    // script that leaves a mark, and one more file for /usrdata/.
    void make_package(const std::string& manifest) {
        root.write("/package/manifest.json", manifest);
        root.write("/package/torvex-c1.a87", kFirmware);
        root.write("/package/post_update_script.sh", "echo ran >> " + root.path("/script.ran") + "\n");
        root.write("/package/other.txt", "other");
        std::string command = "tar -czf " + root.path("/media/sdcard/update.tar.gz") + " -C " + root.path("/package") +
                              " manifest.json torvex-c1.a87 post_update_script.sh other.txt";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    std::string log() const { return root.read("/media/sdcard/log.txt"); }

    TestRoot root;
    FakeClock clock;
};

TEST_F(UpdateCheck, TheManifestDecidesWhatIsInstalled) {
    struct Case {
        const char* name;
        const char* manifest;  // null: no package, a firmware file left in /usrdata/
        int result;
        bool flashed, modemSide, packageKept;
        const char* logged;
    };
    const Case cases[] = {
        {"MCU only", R"({"mcu": {"version": 8}, "modem": {"version": 5}})", 1, true, false, false,
         ";update;0;Update mcu is required (7 => 8)"},
        {"forced modem", R"({"mcu": {"version": 8}, "modem": {"version": 5, "forceUpdate": true}, "doBackup": 1})", 1,
         true, true, false, ";update;0;Update modem is required (5 => 5)"},
        {"pretty-printed", "{\n  \"mcu\": {\"version\": 8}\n}\n", 0, false, false, false, ";update;0;Update file found"},
        {"kept, modem only", R"({"keepUpdateFile": 1, "mcu": {"version": 7}, "modem": {"forceUpdate": true}})", 1,
         false, true, true, ";update;0;Update modem"},
        {"leftover firmware", nullptr, 1, true, false, false, ";update;0;Update mcu"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::system(("rm -rf " + root.path("/usrdata/*") + " " + root.path("/script.ran") + " " + root.path("/home") + " " +
                     root.path("/media/sdcard/update.tar.gz")).c_str());
        root.write("/home/root/.keep", "");
        if (c.manifest)
            make_package(c.manifest);
        else
            root.write("/usrdata/torvex-c1.a87", kFirmware);
        LoaderPeer loader(root);
        EXPECT_EQ(update_check(7, 5), c.result);
        root.write("/reference.hex", kFirmware);
        EXPECT_TRUE(loader.image(c.flashed) == (c.flashed ? reference_image(root.path("/reference.hex")) : ""));
        EXPECT_EQ(root.exists("/usrdata/other.txt"), c.modemSide);
        EXPECT_EQ(root.read("/script.ran"), c.modemSide ? "ran\n" : "");
        EXPECT_FALSE(root.exists("/usrdata/post_update_script.sh"));
        EXPECT_FALSE(root.exists("/usrdata/torvex-c1.a87"));
        EXPECT_EQ(root.exists("/media/sdcard/update.tar.gz"), c.packageKept);
        EXPECT_EQ(root.exists("/home/root/backup.tar.gz"), c.manifest && std::strstr(c.manifest, "doBackup"));
        EXPECT_NE(log().find(c.logged), std::string::npos) << log();
    }
}

}  // namespace
