#include "update/update.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>

#include "tests/support/fake_clock.h"
#include "tests/update/loader_peer.h"
#include "tests/support/module_tools.h"
#include "sim/sim_files.h"

void free_space_limit(uint64_t bytes);  // at most that much free from now on, 0: no limit

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
        {"pretty-printed", "{\n  \"mcu\": {\"version\": 8}\n}\n", 0, false, false, false,
         ";update;0;Update file found"},
        {"kept, modem only", R"({"keepUpdateFile": 1, "mcu": {"version": 7}, "modem": {"forceUpdate": true}})", 1,
         false, true, true, ";update;0;Update modem"},
        {"leftover firmware", nullptr, 0, false, false, false, ""},
        {"numbers beyond int32",
         R"({"keepUpdateFile": 4294967297, "mcu": {"version": 4294967304}, "modem": {"version": 5}})", 0, false, false,
         false,
         ";update;0;Update package not needed: mcu running 7, offered 0; modem running 5, offered "
         "5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::system(("rm -rf " + root.path("/usrdata/*") + " " + root.path("/script.ran") + " " + root.path("/home") +
                     " " + root.path("/media/sdcard/update.tar.gz"))
                        .c_str());
        root.write("/home/root/.keep", "");
        // Left by a power cut: only the package's own firmware is ever flashed.
        root.write("/usrdata/torvex-c1.a87", hex_record(0x0100, {9, 9, 9, 9}));
        if (c.manifest) make_package(c.manifest);
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
        EXPECT_NE(root.log().find(c.logged), std::string::npos) << root.log();
    }
}

TEST_F(UpdateCheck, AFailedFlashIsLoggedAndTriedAtTheNextTwoStarts) {
    make_package(R"({"mcu": {"version": 8}})");
    for (int start = 1; start <= 3; ++start) {
        LoaderPeer silent(root, {-1, -1, 0x0100});
        EXPECT_EQ(update_check(7, 5), 0);
        EXPECT_EQ(root.exists("/media/sdcard/update.tar.gz"), start < 3) << start;
    }
    EXPECT_EQ(count_of(root.log(), ";update;2;MCU flash failed: no answer from the loader within 10 s"), 3u);
    EXPECT_NE(root.log().find(";update;2;MCU flash given up after 3 tries"), std::string::npos);
    EXPECT_FALSE(root.exists("/usrdata/mcu_flash_tries"));
}

enum class Signing { kNone, kOwnKey, kOtherKey, kOtherFile };
enum class Fault { kNone, kCutInDaemon, kFlippedBytes, kLinkMember, kParentMember, kNoRoom, kFileSizeLimit };

std::set<std::string> names_in(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
    return names;
}

// A crafted ustar member: header, then the data in whole blocks.
std::string tar_member(const std::string& name, const std::string& data, char type = '0', const std::string& link = "",
                       const std::string& prefix = "") {
    std::string header = name + std::string(100 - name.size(), '\0') + "0000755" + std::string(17, '\0'), field(12, 0);
    std::snprintf(field.data(), field.size(), "%011o", static_cast<unsigned>(data.size()));
    header += field + std::string(12, '\0') + "        " + type + link + std::string(100 - link.size(), '\0') + "ustar";
    header += std::string("\0" "00", 3) + std::string(80, '\0') + prefix + std::string(167 - prefix.size(), '\0');
    unsigned sum = 0;
    for (unsigned char byte : header) sum += byte;
    std::snprintf(&header[148], 8, "%06o", sum);
    return header + data + std::string((512 - data.size() % 512) % 512, '\0');
}

// Packages made with tar, gzip and openssl, each checked on a root whose
// /usrdata holds a working daemon that the package's script would replace.
TEST_F(UpdateCheck, OnlyAWholePlainAndDulySignedPackageReplacesTheWorkingDaemon) {
    struct Case {
        const char* name;
        bool keyInstalled;
        Signing signing;
        Fault fault;
        const char* logged;  // installed when it is the "required" line
        std::string extra = {};   // members at the end
        std::string daemon = {};  // qz_daemon.new; empty: one that answers its version
    };
    const char* const kInstalled = ";update;0;Update modem is required (5 => 6)";
    const char* const kMismatch = ";update;2;Update package refused: the signature does not match";
    std::string otherMachine = sim_read_file("/bin/true");
    otherMachine[18] = 8, otherMachine[19] = 0;  // e_machine: MIPS (under an emulator it fails with status 127)
    const Case cases[] = {
        {"unsigned, no key", false, Signing::kNone, Fault::kNone, kInstalled},
        {"signed, key", true, Signing::kOwnKey, Fault::kNone, kInstalled},
        {"unsigned, key", true, Signing::kNone, Fault::kNone, ";update;2;Update package refused: no signature"},
        {"another key", true, Signing::kOtherKey, Fault::kNone, kMismatch},
        {"another file's signature", true, Signing::kOtherFile, Fault::kNone, kMismatch},
        {"cut in the daemon", false, Signing::kNone, Fault::kCutInDaemon,
         ";update;2;Update package refused: gzip finds it damaged"},
        {"five bytes flipped", false, Signing::kNone, Fault::kFlippedBytes, ";update;2;Update package refused: "},
        {"link member", false, Signing::kNone, Fault::kLinkMember,
         ";update;2;Update package refused: member qz_daemon.link is not a regular file or folder"},
        {"parent member", false, Signing::kNone, Fault::kParentMember,
         ";update;2;Update package refused: member ../escape.txt has a \"..\" part"},
        {"parent prefix", false, Signing::kNone, Fault::kNone, ";update;2;Update package refused: member ../escape.txt has",
         tar_member("escape.txt", "escaped\n", '0', "", "..")},
        // GNU tar makes a folder of it and takes its data for the next member.
        {"trailing slash", false, Signing::kNone, Fault::kNone, ";update;2;Update package refused: member evil/ is a file",
         tar_member("evil/", tar_member("qz_daemon.new", "", '2', "/bin/false"))},
        {"daemon folder", false, Signing::kNone, Fault::kNone,
         ";update;2;Update package refused: member qz_daemon/ is not a regular file", tar_member("qz_daemon/", "", '5')},
        {"bad key member", false, Signing::kNone, Fault::kNone,
         ";update;2;Update package refused: member update_key.pem is not an Ed25519 public key in PEM",
         tar_member("update_key.pem", "no key\n")},
        {"no room", false, Signing::kNone, Fault::kNoRoom, ";update;2;Update package refused: its files need "},
        {"tar cut off", false, Signing::kNone, Fault::kFileSizeLimit, ";update;2;Update package refused: tar could not"},
        {"daemon without version", false, Signing::kNone, Fault::kNone,
         ";update;2;Update rolled back: the new daemon answered --version with", "", "#!/bin/sh\necho 1.06\n"},
        {"daemon never ends", false, Signing::kNone, Fault::kNone,
         ";update;2;Update rolled back: the new daemon did not answer --version", "", "#!/bin/sh\nsleep 1000\n"},
        {"daemon for another machine", false, Signing::kNone, Fault::kNone, ";update;2;Update rolled back: ", "", otherMachine},
    };
    const auto sh = [](const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; };
    const std::string keys = root.path("/keys/"), stage = root.path("/stage/package/");
    const std::string package = root.path("/media/sdcard/update.tar.gz");
    for (const char* key : {"own", "other"})
        sh("mkdir -p " + keys + " && openssl genpkey -algorithm ed25519 -out " + keys + key + ".pem && " +
           "openssl pkey -in " + keys + key + ".pem -pubout -out " + keys + key + ".pub");
    std::mt19937 random(18);
    std::string newDaemon(96 * 1024, '\0');
    for (char& byte : newDaemon) byte = static_cast<char>(random());
    const std::string answersItsVersion = "#!/bin/sh\necho qz_daemon V1.06; exit 0\n";
    newDaemon.replace(0, answersItsVersion.size(), answersItsVersion);
    const std::string working = "working daemon\n";
    ASSERT_TRUE(busybox_applets(root.path("/busybox")));
    for (size_t pass = 0; pass < 2 * std::size(cases); ++pass) {
        const Case& c = cases[pass % std::size(cases)];
        const bool busybox = pass >= std::size(cases);
        SCOPED_TRACE(std::string(c.name) + (busybox ? ", BusyBox" : ""));
        sh("rm -rf " + root.path("/usrdata/*") + " " + root.path("/script.ran") + " " + root.path("/escape.txt") + " " +
           package + "*");
        root.write("/media/sdcard/log.txt", "");
        root.write("/usrdata/qz_daemon", working);
        root.write("/stage/package/manifest.json", R"({"modem": {"version": 6}})"
                                                   "\n");
        root.write("/stage/package/post_update_script.sh",
                   "cd \"$(dirname \"$0\")\" && mv -f qz_daemon.new qz_daemon && echo ran >> " +
                       root.path("/script.ran") + "\n");
        const std::string daemon = c.daemon.empty() ? newDaemon : c.daemon;
        sim_write_file(stage + "qz_daemon.new", daemon, 0755);
        root.write("/stage/escape.txt", "escaped\n");
        std::string members = "manifest.json post_update_script.sh qz_daemon.new";
        if (c.fault == Fault::kLinkMember)
            sh("ln -sf /bin/sh " + stage + "qz_daemon.link"), members += " qz_daemon.link";
        if (c.fault == Fault::kParentMember) members += " ../escape.txt";
        // -P keeps "../" in a name as given; the crafted members go before the archive's end.
        sh("tar -cPb1 -f " + stage + "../package.tar -C " + stage + " " + members);
        const std::string tar = root.read("/stage/package.tar");
        root.write("/stage/package.tar", tar.substr(0, tar.size() - 1024) + c.extra + std::string(1024, '\0'));
        sh("gzip -c " + root.path("/stage/package.tar") + " > " + package);
        std::string bytes = root.read("/media/sdcard/update.tar.gz");
        if (c.fault == Fault::kCutInDaemon) bytes.resize(bytes.size() * 2 / 3);
        if (c.fault == Fault::kFlippedBytes)
            for (size_t i = 0; i < 5; ++i) bytes[bytes.size() / 2 + i * 7] ^= 0x5A;
        root.write("/media/sdcard/update.tar.gz", bytes);
        const char* signer = c.signing == Signing::kOtherKey ? "other" : "own";
        const std::string signedFile = c.signing == Signing::kOtherFile ? stage + "manifest.json" : package;
        if (c.signing != Signing::kNone)
            sh(std::string("openssl pkeyutl -sign -rawin -inkey ") + keys + signer + ".pem -in " + signedFile +
               " -out " + package + ".sig");
        if (c.keyInstalled) root.write("/usrdata/update_key.pem", root.read("/keys/own.pub"));
        const bool installs = c.logged == kInstalled, rolledBack = !c.daemon.empty();
        ScopedEnv tools("PATH", busybox ? path_with_first(root.path("/busybox")) : std::getenv("PATH"));
        free_space_limit(c.fault == Fault::kNoRoom ? 1088 * 1024 : 0);
        // tar is stopped 64 KiB into the daemon, as by a full /usrdata.
        rlimit unlimited{}, small{};
        getrlimit(RLIMIT_FSIZE, &unlimited), small = {64 * 1024, unlimited.rlim_max};
        if (c.fault == Fault::kFileSizeLimit) setrlimit(RLIMIT_FSIZE, &small);

        EXPECT_EQ(update_check(7, 5), installs ? 1 : 0);
        setrlimit(RLIMIT_FSIZE, &unlimited), free_space_limit(0);
        EXPECT_TRUE(root.read("/usrdata/qz_daemon") == (installs ? daemon : working));
        EXPECT_EQ(root.exists("/script.ran"), installs || rolledBack);
        EXPECT_NE(root.log().find(c.logged), std::string::npos) << root.log();
        // Nothing extracted, nothing left but the daemon (and the key); the card keeps only its
        // log.
        std::set<std::string> usrdata{"qz_daemon"};
        if (c.keyInstalled) usrdata.insert("update_key.pem");
        if (installs || rolledBack) usrdata.insert("manifest.json");
        if (installs) usrdata.insert({"qz_daemon.prev", "update_trial"});
        EXPECT_EQ(names_in(root.path("/usrdata")), usrdata);
        EXPECT_EQ(root.read("/usrdata/update_trial"), installs ? "{\"version\": 6, \"starts\": 0}\n" : "");
        EXPECT_EQ(names_in(root.path("/media/sdcard")), std::set<std::string>{"log.txt"});
        EXPECT_FALSE(root.exists("/escape.txt"));
    }
    // The cloud brings the signature first; alone on the card it waits for its package.
    root.write("/media/sdcard/update.tar.gz.sig", "signature");
    EXPECT_EQ(update_check(7, 5), 0);
    EXPECT_TRUE(root.exists("/media/sdcard/update.tar.gz.sig"));
}

}  // namespace
