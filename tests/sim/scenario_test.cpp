// Scenario files as a newcomer writes them, and a scenario played on the board.
#include <gtest/gtest.h>

#include <csignal>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "sim/cloud_emulator.h"
#include "sim/scenario.h"
#include "sim/scenario_reader.h"
#include "sim/sim_files.h"
#include "tests/support/test_root.h"

namespace {

TEST(ScenarioReader, NamesTheMisspeltMemberOrTheSyntaxErrorAndWhereItIs) {
    const struct {
        const char* text;
        const char* error;  // what follows the file's name
    } rows[] = {
        {R"({"camera_cards": {"pictures": 3}})", R"(: top level: unknown member "camera_cards")"},
        {R"({"cloud": {"refuse_tokens": 1}})", R"(: cloud: unknown member "refuse_tokens")"},
        {R"({"steps": [{}, {"send": "qz+cell\r"}, {"sned": "qz+sync\r"}]})", R"(: steps[2]: unknown member "sned")"},
        {R"({"modem": {"slots": [{"state": "ready", "pn": "1234"}]}})", R"(: modem.slots[0]: unknown member "pn")"},
        {R"({"camera_card": {"movie": "yes"}})", ": camera_card.movie: must be true or false"},
        {"{\n  \"steps\": [\n    {\"send\": \"qz+cell\\r\"}\n    {}\n  ]\n}",
         ":4:5: JSON syntax error: array value separator ',' expected"},
        {"{\"clock_speed\": 4,\n", ":2:1: JSON syntax error: the file ends inside the JSON"},
        {R"({"modem": {"data_call": {"result": "failed"}}})",
         R"(: modem.data_call.result: "failed" is not one of "connect", "fail", "refuse")"},
        {R"({"modem": {"data_call": ["refuse", "conect"]}})", R"(: modem.data_call[1]: "conect" is not one of)"},
        {R"({"modem": {"signal": {"LTE": -100}}})", R"(: modem.signal: unknown name "LTE" (known: gsm, wcdma,)"},
        {R"({"camera_card": {"pictures": -1}})", ": camera_card.pictures: -1 is not a whole number from 0 to 10000"},
        {R"({"cloud": {}, "update_package": {"firmware_file": "/nonexistent.hex"}})",
         ": update_package.firmware_file: cannot read /nonexistent.hex: No such file or directory"},
    };
    TestRoot folder;
    for (const auto& row : rows) {
        const std::string file = folder.path("/scenario.json");
        sim_write_file(file, row.text);
        std::string error;
        EXPECT_EQ(scenario_read(file, error), nullptr) << row.text;
        EXPECT_EQ(error.rfind(file + row.error, 0), 0u) << error;
    }
    std::string error;
    sim_write_file(folder.path("/ok.json"),
                   R"({"cloud": {"instruction": {"size": 0}}, "modem": {"data_call": ["refuse", "connect"]}})");
    EXPECT_NE(scenario_read(folder.path("/ok.json"), error), nullptr) << error;
    EXPECT_EQ(scenario_read(folder.path("/none.json"), error), nullptr);
    EXPECT_EQ(error, "cannot read scenario " + folder.path("/none.json") + ": No such file or directory");
}

// The board's modem has a PIN-locked card in slot 0 and LTE at -95 dBm.
// "getsignalbar" right after the bring-up started answers 0; waiting for the
// data call in the event log makes it answer the modem's signal. The slots are
// tried in turn over AT, and a second "cell" starts no second thread. The
// cloud's files land beside the camera's card.
TEST(ScenarioRun, StepWaitsForTheDataCallAndTheCloudFilesCanBeOpened) {
    TestRoot folder;
    const std::string file = folder.path("/scenario.json");
    sim_write_file(file, R"({
        "clock_speed": 10,
        "camera_card": {"pictures": 1, "old_pictures": 0, "width": 640, "height": 480},
        "cloud": {},
        "steps": [
            {"expect": "RDY\r\n"},
            {"send": "qz+cell\r", "answer_within": 5},
            {"send": "qz+transfer\r", "answer_within": 10},
            {"send": "qz+process\r", "answer_within": 20},
            {"wait_log": "Data activated", "within": 30, "send": "qz+getsignalbar\r", "answer_within": 5},
            {"send": "qz+cell\r", "answer_within": 5},
            {"wait_log": ";cell;1;Cellular handler already running", "within": 5},
            {"send": "qz+sync\r", "answer_within": 30},
            {"send": "qz+powerdown\r", "exit_within": 5}
        ]})");
    SimBoard::Options options;
    options.root = folder.path("/board");
    std::ostringstream out;
    EXPECT_EQ(run_scenario(file, options, out), 0) << out.str();
    const std::string transcript = out.str();
    const size_t asked = transcript.find("MCU -> qz+getsignalbar<CR>");
    ASSERT_NE(asked, std::string::npos) << transcript;
    EXPECT_EQ(transcript.find("MCU <- ", asked), transcript.find("MCU <- 4<CR><LF>", asked)) << transcript;
    std::vector<std::string> at;
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line) && at.size() < 10;)
        if (line.rfind("AT  <- ", 0) == 0) at.push_back(line.substr(7));
    const std::string mbn = "AT+QMBNCFG=\"deactivate\"<CR>";
    const std::string fplmn = "AT+CRSM=214,28539,0,0,12,\"FFFFFFFFFFFFFFFFFFFFFFFF\"<CR>";
    const std::vector<std::string> expected = {
        "AT+CFUN=0<CR>", "AT+CFUN=1<CR>", mbn, fplmn,  // slot 0: a card
        "AT+CFUN=0<CR>", "AT+CFUN=1<CR>",              // slot 1: empty
        "AT+CFUN=0<CR>", "AT+CFUN=1<CR>", mbn, fplmn,  // back to slot 0
    };
    EXPECT_EQ(at, expected);
    const std::string log = sim_read_file(options.root + "/media/sdcard/log.txt");
    for (const char* line : {";sim;2;Sim pin - OK\r\n", ";cellular;0;Signal type: LTE\r\n"})
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(sim_read_file(options.root + "/sim/cloud/PICT0001.JPG").rfind("\xFF\xD8", 0), 0u);
    EXPECT_NE(transcript.find("copied to " + options.root + "/sim/cloud/"), std::string::npos);
    EXPECT_EQ(sim_sanitizer_report(sim_read_file(options.root + "/sim/daemon.out")), "");
}

// SIGTERM (as `timeout` sends) stops the run at once: the daemon goes and the
// transcript so far is printed.
TEST(ScenarioRun, SigtermStopsTheDaemonAndPrintsTheTranscript) {
    TestRoot folder;
    const std::string file = folder.path("/scenario.json");
    sim_write_file(file, R"({"steps": [{"expect": "RDY\r\n", "send": "qz+setbatt 612 125\r"}, {"expect": "never", "within": 300}]})");
    SimBoard::Options options;
    options.root = folder.path("/board");
    scenario_stop_on_signals(options);
    std::ostringstream out;
    auto run = std::async(std::launch::async, [&] { return run_scenario(file, options, out); });
    while (sim_read_file(options.root + "/media/sdcard/log.txt").find("AA: 6.12v") == std::string::npos)
        ASSERT_EQ(run.wait_for(std::chrono::milliseconds(20)), std::future_status::timeout);
    kill(getpid(), SIGTERM);
    ASSERT_EQ(run.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the run goes on";
    EXPECT_EQ(run.get(), 128 + SIGTERM);
    for (int stop : {SIGINT, SIGTERM}) signal(stop, SIG_DFL);
    const std::string transcript = out.str();
    EXPECT_NE(transcript.find("== Event log"), std::string::npos);
    EXPECT_NE(transcript.find("Scenario stopped by SIGTERM at steps[1]\n"), std::string::npos) << transcript;
    const size_t started = transcript.find("qz_daemon started, pid ");
    ASSERT_NE(started, std::string::npos);
    EXPECT_NE(kill(std::stoi(transcript.substr(started + 23)), 0), 0) << "the daemon is still running";
}

// A service stopped as soon as it started ends every time (a scenario that
// fails before the daemon starts does just that).
TEST(CloudEmulator, StopsRightAfterItStarted) {
    for (int round = 0; round < 30; ++round) {
        CloudEmulator cloud(CloudScenario{});
        ASSERT_TRUE(cloud.start());
        cloud.stop();
    }
}

}  // namespace
