#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "camera_card.h"
#include "cloud_emulator.h"
#include "daemon_board.h"
#include "log_report.h"
#include "modem_board.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kModem = R"({"imei": "356938035643809", "slots": [{"state": "ready", "iccid": "8944500102198304826",
    "imsi": "234500012345678"}, {"state": "absent"}], "signal": {"lte": -87},
    "network": {"registered": true, "radio": 4, "mcc": "234", "mnc": "50"}})";

// The daemon's own log of a wake gives the figures the board knows: every text
// the report reads is written as it expects.
TEST(LogReportOfAWake, FiguresMatchWhatTheBoardSaw) {
    DaemonBoard board(DaemonBoard::fast(50));
    modem_board_set_scenario(board.root(), kModem);
    CameraCard card;
    card.oldPictures = 0;
    card.width = 640;
    card.height = 480;
    camera_card_fill(board.root(), card);
    CloudScenario knobs;
    knobs.uploadStatus["PICT0002.JPG"] = 403;
    knobs.requests = R"({"log": {"execute": true, "content": [{"name": "log.txt"}]}})";
    CloudEmulator cloud(knobs);
    ASSERT_TRUE(cloud.start());
    ASSERT_TRUE(cloud_emulator_attach(cloud, knobs, board.root()));
    ASSERT_TRUE(board.start_daemon());
    ASSERT_TRUE(board.mcu_wait_for("RDY\r\n", 10s));
    board.command("qz+setbatt 598 121\r", 5s);
    board.command("qz+cell\r", 5s);
    board.command("qz+transfer\r", 30s);
    board.command("qz+process\r", 60s);
    const auto copies = std::distance(std::filesystem::directory_iterator(board.path("/media/sdcard/transmit/")),
                                      std::filesystem::directory_iterator());
    ASSERT_FALSE(board.command("qz+sync\r", 60s).empty()) << board.transcript();
    board.mcu_send("qz+powerdown\r");
    EXPECT_EQ(board.wait_exit(10s), 0);

    std::vector<Wake> wakes;
    LogReport report([&](const Wake& wake) { wakes.push_back(wake); });
    ASSERT_TRUE(log_report_file(board.path("/media/sdcard/log.txt").c_str(), report));
    const LogTotals& totals = report.finish();
    ASSERT_EQ(wakes.size(), 1u);
    const Wake& wake = wakes[0];
    EXPECT_EQ(wake.end, Wake::End::kPowerdown);
    EXPECT_TRUE(wake.dataUp);
    EXPECT_EQ(wake.simSlot, 0);
    EXPECT_EQ(wake.iccid, "8944500102198304826");
    EXPECT_EQ(wake.mcc + "/" + wake.mnc + " " + wake.radio, "234/50 LTE");
    EXPECT_EQ(wake.signalDbm, -87);
    EXPECT_DOUBLE_EQ(wake.battery, 5.98);
    EXPECT_DOUBLE_EQ(wake.external, 12.1);
    EXPECT_EQ(wake.processed, copies);
    // The log request's upload is stored too; the refused picture is offered again.
    int stored = 0, refused = 0;
    for (const StoredPicture& picture : cloud.pictures()) stored += picture.name != "log.txt";
    for (const CloudRequest& request : cloud.requests())
        refused += request.path.rfind("/storage/", 0) == 0 && request.status == 403;
    EXPECT_EQ(wake.uploaded, stored);
    EXPECT_EQ(wake.uploaded, copies - 1);
    EXPECT_EQ(wake.uploadsFailed, refused);
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(wake.requests, 1);
    EXPECT_EQ(totals.unreadable, 0);
    EXPECT_EQ(totals.unknownTagEntries, 0) << totals_text(totals);
    EXPECT_EQ(totals.outsideWakes, 0);
}

}  // namespace
