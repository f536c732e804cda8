#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/test_root.h"
#include "update/update.h"
#include "core/version.h"

namespace {

// The package this build made, installed by the daemon's own update check
// (on the real clock: the new daemon answers "--version" under the emulator).
TEST(BuiltUpdatePackage, InstallsTheStrippedDaemonInUsrdata) {
    TestRoot root;
    std::filesystem::copy_file(QZ_UPDATE_PACKAGE, root.path("/media/sdcard/update.tar.gz"));
    const std::string unpack = "tar -Oxzf " + std::string(QZ_UPDATE_PACKAGE) + " qz_daemon.new > " + root.path("/expected");
    ASSERT_EQ(std::system(unpack.c_str()), 0);
    root.write("/usrdata/qz_daemon", "old daemon");

    ASSERT_EQ(update_check(1, kDaemonVersion - 1), 1);

    const std::string daemon = root.read("/usrdata/qz_daemon");
    // A 32-bit little-endian ELF file for ARM (e_machine 40).
    ASSERT_GT(daemon.size(), 20u);
    EXPECT_EQ(daemon.substr(0, 6), std::string("\x7f" "ELF\x01\x01"));
    EXPECT_EQ(daemon.substr(18, 2), std::string("\x28\x00", 2));
    EXPECT_TRUE(daemon == root.read("/expected")) << "installed daemon differs from the package's";
    struct stat info {};
    ASSERT_EQ(stat(root.path("/usrdata/qz_daemon").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);
    EXPECT_FALSE(root.exists("/usrdata/qz_daemon.new"));
    EXPECT_EQ(root.read("/usrdata/qz_daemon.prev"), "old daemon");
}

}  // namespace
