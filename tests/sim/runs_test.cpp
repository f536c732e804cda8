#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "daemon_board.h"
#include "camera_card.h"

namespace {

using namespace std::chrono_literals;

size_t count_runs(const std::vector<std::string>& commands, const std::string& name) {
    return static_cast<size_t>(std::count(commands.begin(), commands.end(), name));
}

TEST(Runs, TransferSucceedingOnTheThirdTry) {
    DaemonBoard board(DaemonBoard::fast(50));
    CameraCard card;
    card.pictures = 1;
    card.oldPictures = 0;
    card.width = 640;
    card.height = 480;
    camera_card_fill(board.root(), card);
    camera_card_fail_transfers(board.root(), 2);
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    EXPECT_EQ(board.command("qz+transfer\r", 30s), "\x06\x06" "1\x04");
    auto commands = board.commands_run();
    EXPECT_EQ(count_runs(commands, "/usrdata/img_transfer.sh"), 3u);
    EXPECT_EQ(count_runs(commands, "/usrdata/sdcable_mount.sh"), 2u);
    EXPECT_NE(board.read_file("/etc/qz_daemon_conf.json").find("\"remainRetry\": 0"), std::string::npos);

    // The copied files are processed: pictures into original/ and transmit/, the rest filed.
    std::string answer = board.command("qz+process\r", 60s);
    EXPECT_EQ(answer, std::string(4, '\x06') + "\x04");
    for (const char* path : {"/media/sdcard/original/PICT0001.JPG", "/media/sdcard/original/PICT0002.JPG",
                             "/media/sdcard/transmit/PICT0001.JPG", "/media/sdcard/transmit/PICT0002.JPG",
                             "/media/sdcard/original/AVI0001.AVI"})
        EXPECT_FALSE(board.read_file(path).empty()) << path;
    EXPECT_NE(board.read_file("/media/sdcard/log.txt").find(";process;0;Picture processed: 2"), std::string::npos);
}

}  // namespace
