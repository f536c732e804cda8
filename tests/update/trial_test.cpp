#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "sim/cloud_emulator.h"
#include "tests/support/daemon_board.h"
#include "tests/support/module_tools.h"
#include "sim/sim_files.h"
#include "sim/update_package.h"

namespace {

using namespace std::chrono_literals;

// The board's daemon runs as usrdata/qz_daemon, as on the module, beside a cloud service.
struct TrialBoard : DaemonBoard {
    explicit TrialBoard(const CloudScenario& knobs = {}) : DaemonBoard(fast(50, true)), cloud(knobs) {
        EXPECT_TRUE(cloud.start() && cloud_emulator_attach(cloud, knobs, root()));
    }
    // One start: 'c' its power is cut after "RDY"; after "RDY", 'p' the MCU asks for pictures only, 's' for a
    // sync, then for "powerdown". A start that ends before "RDY" (a reboot) is taken as it comes.
    void wake(char kind) {
        const size_t from = mcu_received().size();
        ASSERT_TRUE(start_daemon());
        for (int waited = 0; !mcu_wait_for("RDY\r\n", 20ms, from); ++waited)
            if (wait_exit(0ms) >= 0 || waited > 1500) return;
        if (kind == 'p') command("qz+process\r", 60s);
        if (kind == 's') command("qz+cell\r", 5s), command("qz+sync\r", 60s);
        if (kind == 'c') return stop_daemon();
        mcu_send("qz+powerdown\r");
        EXPECT_EQ(wait_exit(20s), 0) << transcript();
    }
    CloudEmulator cloud;
    const std::string old = read_file("/usrdata/qz_daemon"), newer = old + "\n# another build\n";
};

// Also what a power cut during the count (a temporary file beside the record before or after it; a record
// damaged otherwise counts as one start spent) or during the restore (a record without a kept daemon) leaves.
TEST(Trial, ANewDaemonStaysOnlyOnceItRunsAndACameraRecordOfItIsAccepted) {
    struct Case {
        const char* name;
        const char* record;  // laid with the old daemon kept (nothing: without), else a package comes
        bool runs;           // the package's daemon is a newer build, else a script that exits 1
        int refused;         // camera records answered 503
        bool busybox;        // BusyBox's tools first in PATH
        const char* wakes;   // the first start finds the package
        bool stays;
        long reboots;
        const char* logged;
    };
    const Case cases[] = {
        {"cannot run", nullptr, false, 0, false, "p", false, 0, "rolled back: the new daemon ended with status 1"},
        {"records refused", nullptr, true, 1000, false, "csccccc", false, 2, "no camera record accepted in 5 starts"},
        {"pictures only, then a sync", nullptr, true, 0, true, "cppppppppscccccccc", true, 1, "Update trial passed"},
        {"count cut", "{\"version\": 6, \"sta", true, 0, false, "ccccc", false, 1, "start 2 of 5"},
        {"restore cut", "{\"version\": 6, \"starts\": 5}\n", false, 0, false, "c", false, 0, "ended: no kept daemon"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CloudScenario knobs;
        knobs.serverErrors = c.refused, knobs.serverErrorStatus = 503;
        TrialBoard board(knobs);
        ASSERT_TRUE(!c.busybox || busybox_applets(board.path("/bin")));
        sim_write_file(board.path("/usrdata/.qz-cut123.tmp"), "{\"version\": 6, \"starts\"");
        if (c.record) sim_write_file(board.path("/usrdata/update_trial"), c.record);
        if (c.record && c.runs) sim_write_file(board.path("/usrdata/qz_daemon.prev"), board.old, 0755);
        const std::string daemon = c.runs ? board.newer : "#!/bin/sh\nexit 1\n";
        ASSERT_TRUE(c.record || update_package_lay(board.root(), {R"({"modem": {"version": 6}})", "", daemon}));
        for (const char* kind = c.wakes; *kind != '\0'; ++kind) board.wake(*kind);
        EXPECT_TRUE(board.read_file("/usrdata/qz_daemon") == (c.stays ? board.newer : board.old));
        EXPECT_FALSE(std::filesystem::exists(board.path("/usrdata/update_trial")));
        EXPECT_FALSE(std::filesystem::exists(board.path("/usrdata/.qz-cut123.tmp")));
        const auto run = board.commands_run();
        EXPECT_EQ(std::count(run.begin(), run.end(), "reboot"), c.reboots);
        const std::string log = board.read_file("/media/sdcard/log.txt");
        EXPECT_NE(log.find(c.logged), std::string::npos) << log;
    }
}

}  // namespace
