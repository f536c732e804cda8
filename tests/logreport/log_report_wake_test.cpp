#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sim/camera_card.h"
#include "sim/cloud_emulator.h"
#include "tests/support/daemon_board.h"
#include "tools/logreport/log_report.h"
#include "sim/modem_board.h"

namespace {

using namespace std::chrono_literals;

// A PIN-locked card ("Sim pin - OK" is logged at code 2); the data call is
// refused, then connects and drops, then comes up at the third try.
constexpr const char* kModem = R"({"imei": "356938035643809", "slots": [{"state": "ready", "iccid": "8944500102198304826",
    "imsi": "234500012345678", "pin": "73150284"}, {"state": "absent"}], "signal": {"lte": -87},
    "network": {"registered": true, "radio": 4, "mcc": "234", "mnc": "50"},
    "data_call": ["refuse", {"result": "fail", "reason": 3}, "connect"]})";

// Name and bytes of every file in a folder of the board.
std::map<std::string, std::string> files_in(const SimBoard& board, const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(board.path(folder)))
        files[entry.path().filename()] = board.read_file(folder + entry.path().filename().string());
    return files;
}

// The whole road of a picture (the camera's card fetched on the third try, the
// transmit copies, the cloud's storage), and the daemon's own log of that wake
// gives the figures the board knows: every text the report reads is written as
// it expects, and only real failures count as errors.
TEST(LogReportOfAWake, FiguresMatchWhatTheBoardSaw) {
    DaemonBoard board(DaemonBoard::fast(50));
    modem_board_set_scenario(board.root(), kModem);
    CameraCard card;
    card.oldPictures = 0;
    card.width = 640;
    card.height = 480;
    card.withoutExif = true;
    camera_card_fill(board.root(), card);
    camera_card_fail_transfers(board.root(), 2);
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
    EXPECT_EQ(board.command("qz+transfer\r", 30s), "\x06\x06" "1\x04");
    const auto commands = board.commands_run();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "/usrdata/img_transfer.sh"), 3);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "/usrdata/sdcable_mount.sh"), 2);
    // The pictures are processed once the time zone is known ("getdatetime" waits for it after
    // the call came up): the cellular thread writes it into the environment, and a compressor
    // spawned meanwhile from another thread races with it, a fault of the daemon's own that this
    // test stays out of.
    const std::string logPath = "/media/sdcard/log.txt";
    for (int i = 0; i < 600 && board.read_file(logPath).find("Data activated") == std::string::npos; ++i)
        std::this_thread::sleep_for(50ms);
    board.command("qz+getdatetime\r", 10s);
    board.command("qz+process\r", 60s);
    std::map<std::string, std::string> copies = files_in(board, "/media/sdcard/transmit/");
    ASSERT_EQ(copies.size(), 4u) << board.transcript();
    const std::string answer = board.command("qz+sync\r", 60s);
    EXPECT_EQ(answer.find_first_not_of('\x06'), answer.size() - 1) << board.transcript();
    const size_t beforePowerdown = board.mcu_received().size();
    board.mcu_send("qz+powerdown\r");
    EXPECT_EQ(board.wait_exit(10s), 0);
    EXPECT_EQ(board.mcu_received().size(), beforePowerdown) << "powerdown halts without an end mark";
    const auto run = board.commands_run();
    EXPECT_NE(std::find(run.begin(), run.end(), "halt"), run.end());

    const std::string log = board.read_file("/media/sdcard/log.txt");
    EXPECT_NE(log.find(";sync;0;End cellular transfert", log.find(";sync;0;Start cellular transfert")),
              std::string::npos);
    std::vector<Wake> wakes;
    LogReport report([&](const Wake& wake) { wakes.push_back(wake); });
    ASSERT_TRUE(log_report_file(board.path("/media/sdcard/log.txt").c_str(), report));
    const LogTotals& totals = report.finish();
    ASSERT_EQ(wakes.size(), 1u);
    const Wake& wake = wakes[0];
    EXPECT_EQ(wake.end, Wake::End::kPowerdown);
    EXPECT_TRUE(wake.dataUp);
    EXPECT_EQ(wake.dataAttempts, 3);
    EXPECT_EQ(wake.simSlot, 0);
    EXPECT_EQ(wake.iccid, "8944500102198304826");
    EXPECT_EQ(wake.mcc + "/" + wake.mnc + " " + wake.radio, "234/50 LTE");
    EXPECT_EQ(wake.signalDbm, -87);
    EXPECT_DOUBLE_EQ(wake.battery, 5.98);
    EXPECT_DOUBLE_EQ(wake.external, 12.1);
    EXPECT_EQ(wake.processed, static_cast<int>(copies.size()));
    // Every copy is stored as it was and leaves transmit, but the refused one,
    // which is offered again.
    EXPECT_TRUE(files_in(board, "/media/sdcard/transmit/") ==
                (std::map<std::string, std::string>{{"PICT0002.JPG", copies["PICT0002.JPG"]}}));
    copies.erase("PICT0002.JPG");
    std::map<std::string, std::string> stored;
    for (const StoredPicture& picture : cloud.pictures())
        if (picture.name != "log.txt") stored[picture.name] = picture.bytes;
    EXPECT_TRUE(stored == copies) << cloud_emulator_report(cloud);
    int refused = 0;
    for (const CloudRequest& request : cloud.requests())
        refused += request.path.rfind("/storage/", 0) == 0 && request.status == 403;
    EXPECT_EQ(wake.uploaded, static_cast<int>(stored.size()));
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(wake.uploadsFailed, 1);
    EXPECT_EQ(wake.errors, 3) << totals_text(totals);
    const std::vector<std::pair<std::string, int64_t>> errors = {
        {"sync: File transfer failed for PICTN.JPG: HTTP status N; kept for the next sync", 2},
        {"Data: Profile index N start data call failure: NxN", 1}};
    EXPECT_EQ(totals.topErrors, errors);
    EXPECT_EQ(wake.requests, 1);
    for (const Damage& damage : totals.damage) EXPECT_EQ(damage.count, 0) << damage.what;
    EXPECT_EQ(totals.unknownTagEntries, 0) << totals_text(totals);
    EXPECT_EQ(totals.outsideWakes, 0);
}

}  // namespace
