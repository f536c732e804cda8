// Scenario files as a newcomer writes them, and a scenario played on the board.
#include <gtest/gtest.h>

#include <sstream>

#include "scenario.h"
#include "scenario_reader.h"
#include "sim_files.h"
#include "test_root.h"

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
    EXPECT_EQ(scenario_read(folder.path("/none.json"), error), nullptr);
    EXPECT_EQ(error, "cannot read scenario " + folder.path("/none.json") + ": No such file or directory");
}

// "getsignalbar" right after the bring-up started answers 0; waiting for the
// data call in the event log makes it answer the modem's signal. The cloud's
// files land beside the camera's card.
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
    EXPECT_EQ(sim_read_file(options.root + "/sim/cloud/PICT0001.JPG").rfind("\xFF\xD8", 0), 0u);
    EXPECT_NE(transcript.find("copied to " + options.root + "/sim/cloud/"), std::string::npos);
    EXPECT_EQ(sim_sanitizer_report(sim_read_file(options.root + "/sim/daemon.out")), "");
}

}  // namespace
