#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "camera_card.h"
#include "cloud_emulator.h"
#include "daemon_board.h"

namespace {

using namespace std::chrono_literals;

// Name and bytes of every file in a folder of the board.
std::map<std::string, std::string> files_in(const SimBoard& board, const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(board.path(folder))) {
        std::string name = entry.path().filename();
        files[name] = board.read_file(folder + name);
    }
    return files;
}

// The whole road of a picture: the camera's card (fetched on the third try), the
// transmit copies, the cloud's storage.
TEST(SyncRun, EveryTransmitCopyReachesTheCloudAndLeavesTransmit) {
    DaemonBoard board(DaemonBoard::fast(50));
    CameraCard card;
    card.pictures = 4;
    card.oldPictures = 0;
    card.width = 640;
    card.height = 480;
    card.withoutExif = true;
    camera_card_fill(board.root(), card);
    camera_card_fail_transfers(board.root(), 2);
    CloudEmulator cloud;
    ASSERT_TRUE(cloud.start());
    ASSERT_TRUE(cloud_emulator_attach(cloud, {}, board.root()));
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    EXPECT_EQ(board.command("qz+cell\r", 5s), "\x04");
    EXPECT_EQ(board.command("qz+transfer\r", 30s), "\x06\x06" "1\x04");
    const auto commands = board.commands_run();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "/usrdata/img_transfer.sh"), 3);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "/usrdata/sdcable_mount.sh"), 2);
    EXPECT_FALSE(board.command("qz+process\r", 60s).empty());
    std::map<std::string, std::string> copies = files_in(board, "/media/sdcard/transmit/");
    ASSERT_EQ(copies.size(), 5u) << board.transcript();

    std::string answer = board.command("qz+sync\r", 60s);
    ASSERT_FALSE(answer.empty()) << board.transcript();
    EXPECT_EQ(answer.find_first_not_of('\x06'), answer.size() - 1) << board.transcript();
    std::map<std::string, std::string> stored;
    for (const auto& picture : cloud.pictures()) stored[picture.name] = picture.bytes;
    EXPECT_TRUE(stored == copies) << cloud_emulator_report(cloud);
    EXPECT_TRUE(files_in(board, "/media/sdcard/transmit/").empty());
    std::string log = board.read_file("/media/sdcard/log.txt");
    size_t start = log.find(";sync;0;Start cellular transfert");
    EXPECT_NE(start, std::string::npos);
    EXPECT_NE(log.find(";sync;0;End cellular transfert", start), std::string::npos);
}

}  // namespace
