#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cloud_emulator.h"
#include "daemon_board.h"
#include "module_tools.h"
#include "sim_files.h"
#include "test_root.h"
#include "update_package.h"

namespace {

using namespace std::chrono_literals;

SimBoard::Options from_usrdata() {
    SimBoard::Options options = DaemonBoard::fast(500);
    options.daemonInUsrdata = true;
    return options;
}

// The board's daemon runs as usrdata/qz_daemon, as on the module, beside a
// cloud service; a new build of it differs in its last bytes.
struct TrialBoard : DaemonBoard {
    explicit TrialBoard(const CloudScenario& knobs = {})
        : DaemonBoard(from_usrdata()), cloud(knobs) {
        EXPECT_TRUE(cloud.start() && cloud_emulator_attach(cloud, knobs, root()));
    }
    // Starts the daemon; after "RDY", the MCU sends the lines, then "powerdown".
    // The daemon's exit status; -2 when it never said "RDY".
    int wake(const std::vector<std::string>& lines) {
        const size_t from = mcu_received().size();
        if (!start_daemon() || !mcu_wait_for("RDY\r\n", 30s, from)) return -2;
        for (const auto& line : lines) command(line, 60s);
        mcu_send("qz+powerdown\r");
        return wait_exit(20s);
    }
    // Starts the daemon and cuts its power once it said "RDY".
    bool cut_after_rdy() {
        const size_t from = mcu_received().size();
        const bool ready = start_daemon() && mcu_wait_for("RDY\r\n", 30s, from);
        stop_daemon();
        return ready;
    }
    int reboots() const {
        const auto run = commands_run();
        return static_cast<int>(std::count(run.begin(), run.end(), "reboot"));
    }
    CloudEmulator cloud;
    const std::string old = read_file("/usrdata/qz_daemon"), newer = old + "\n# another build\n";
};

// Installed at a start, which then reboots.
void install(TrialBoard& board, const std::string& daemon) {
    ASSERT_TRUE(update_package_lay(board.root(), {R"({"modem": {"version": 6}})", "", daemon}));
    ASSERT_TRUE(board.start_daemon());
    ASSERT_EQ(board.wait_exit(60s), 0) << board.transcript();
}

// With GNU's tools and with BusyBox's as the module has them.
TEST(Trial, ADaemonThatCannotRunIsRefusedAtOnceAndTheStartGoesOn) {
    for (const bool busybox : {false, true}) {
        TrialBoard board;
        ASSERT_TRUE(!busybox || busybox_applets(board.path("/bin")));
        ASSERT_TRUE(update_package_lay(board.root(),
                                       {R"({"modem": {"version": 6}})", "", "#!/bin/sh\nexit 1\n"}));
        EXPECT_EQ(board.wake({}), 0) << board.transcript();
        EXPECT_TRUE(board.read_file("/usrdata/qz_daemon") == board.old);
        EXPECT_EQ(board.reboots(), 0);
        EXPECT_NE(
            board.read_file("/media/sdcard/log.txt")
                .find(";update;2;Update rolled back: the new daemon ended with status 1 on --version"),
            std::string::npos);
    }
}

TEST(Trial, ADaemonWhoseCameraRecordsAreRefusedGoesBackAtTheSixthStart) {
    CloudScenario knobs;
    knobs.serverErrors = 1000;
    knobs.serverErrorStatus = 503;
    TrialBoard board(knobs);
    install(board, board.newer);
    // Synced and not accepted, or cut off: each start stays counted.
    for (int start = 1; start <= 5; ++start)
        EXPECT_TRUE(start == 1 ? board.wake({"qz+cell\r", "qz+sync\r"}) == 0
                               : board.cut_after_rdy())
            << start;
    EXPECT_TRUE(board.read_file("/usrdata/qz_daemon") == board.newer);
    ASSERT_TRUE(board.start_daemon());
    EXPECT_EQ(board.wait_exit(30s), 0);
    EXPECT_TRUE(board.read_file("/usrdata/qz_daemon") == board.old);
    EXPECT_EQ(board.reboots(), 2);
    EXPECT_NE(board.read_file("/media/sdcard/log.txt")
                  .find(";update;2;Update rolled back: no camera record accepted in 5 starts"),
              std::string::npos);
    EXPECT_EQ(board.wake({}), 0) << "the old daemon runs";
}

TEST(Trial, WakesForPicturesOnlyCountNothingAndOneAcceptedRecordEndsTheTrial) {
    TrialBoard board;
    ASSERT_TRUE(busybox_applets(board.path("/bin")));
    install(board, board.newer);
    for (int wake = 0; wake < 8; ++wake) EXPECT_EQ(board.wake({"qz+process\r"}), 0);
    EXPECT_EQ(board.read_file("/usrdata/update_trial"), "{\"version\": 6, \"starts\": 0}\n");
    EXPECT_EQ(board.wake({"qz+cell\r", "qz+sync\r"}), 0);
    for (int start = 0; start < 8; ++start) EXPECT_TRUE(board.cut_after_rdy());
    EXPECT_TRUE(board.read_file("/usrdata/qz_daemon") == board.newer);
    EXPECT_FALSE(std::filesystem::exists(board.path("/usrdata/update_trial")));
    EXPECT_EQ(board.reboots(), 1);
}

// What a power cut during the count or the restore leaves: a whole daemon
// runs, and the record is readable again or gone.
TEST(Trial, APowerCutDuringTheCountOrTheRestoreLeavesAWholeDaemonAndARecord) {
    struct Case {
        const char* name;
        std::string record;
        bool kept;  // the old daemon is still kept: the new one is in place
        const char* recordAfter;
        const char* logged;
    };
    const Case cases[] = {
        {"record cut", "{\"version\": 6, \"sta", true, "{\"version\": 0, \"starts\": 2}\n",
         ";update;0;Update trial: start 2 of 5"},
        {"temporary left", "{\"version\": 6, \"starts\": 3}\n", true,
         "{\"version\": 6, \"starts\": 4}\n", ";update;0;Update trial: start 4 of 5"},
        {"restore cut after the rename", "{\"version\": 6, \"starts\": 5}\n", false, "",
         ";update;1;Update trial ended: no kept daemon"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TrialBoard board;
        sim_write_file(board.path("/usrdata/update_trial"), c.record);
        sim_write_file(board.path("/usrdata/.qz-cut123.tmp"), "{\"version\": 6, \"starts\"");
        if (c.kept) sim_write_file(board.path("/usrdata/qz_daemon.prev"), board.old, 0755);
        if (c.kept) sim_write_file(board.path("/usrdata/qz_daemon"), board.newer, 0755);
        EXPECT_TRUE(board.cut_after_rdy()) << board.transcript();
        EXPECT_EQ(board.read_file("/usrdata/update_trial"), c.recordAfter);
        EXPECT_FALSE(std::filesystem::exists(board.path("/usrdata/.qz-cut123.tmp")));
        EXPECT_NE(board.read_file("/media/sdcard/log.txt").find(c.logged), std::string::npos);
    }
}

}  // namespace
