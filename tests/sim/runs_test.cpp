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

class Runs : public ::testing::Test {
protected:
    static SimBoard::Options fast(bool card = true) {
        SimBoard::Options options;
        options.clockSpeed = 50;
        options.withSdCard = card;
        return options;
    }
    void start(SimBoard& board) {
        ASSERT_TRUE(board.start_daemon());
        ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    }
    std::string command(SimBoard& board, const std::string& line, std::chrono::milliseconds within = 30s) {
        size_t from = board.mcu_received().size();
        board.mcu_send(line);
        return board.mcu_answer(from, within);
    }
};

TEST_F(Runs, TransferSucceedingOnTheThirdTry) {
    DaemonBoard board(fast());
    CameraCard card;
    card.pictures = 1;
    card.oldPictures = 0;
    card.width = 640;
    card.height = 480;
    camera_card_fill(board.root(), card);
    camera_card_fail_transfers(board.root(), 2);
    start(board);
    EXPECT_EQ(command(board, "qz+transfer\r"), "\x06\x06" "1\x04");
    auto commands = board.commands_run();
    EXPECT_EQ(count_runs(commands, "/usrdata/img_transfer.sh"), 3u);
    EXPECT_EQ(count_runs(commands, "/usrdata/sdcable_mount.sh"), 2u);
    EXPECT_NE(board.read_file("/etc/qz_daemon_conf.json").find("\"remainRetry\": 0"), std::string::npos);

    // The copied files are processed: pictures into original/ and transmit/, the rest filed.
    std::string answer = command(board, "qz+process\r", 60s);
    EXPECT_EQ(answer, std::string(4, '\x06') + "\x04");
    for (const char* path : {"/media/sdcard/original/PICT0001.JPG", "/media/sdcard/original/PICT0002.JPG",
                             "/media/sdcard/transmit/PICT0001.JPG", "/media/sdcard/transmit/PICT0002.JPG",
                             "/media/sdcard/original/AVI0001.AVI"})
        EXPECT_FALSE(board.read_file(path).empty()) << path;
    EXPECT_NE(board.read_file("/media/sdcard/log.txt").find(";process;0;Picture processed: 2"), std::string::npos);
}

TEST_F(Runs, ProcessWithoutCardSendsOnlyTheEndMark) {
    DaemonBoard board(fast(false));
    start(board);
    EXPECT_EQ(command(board, "qz+process\r"), "\x04");
    EXPECT_EQ(command(board, "qz+transfer\r"), "0\x04");
}

}  // namespace
