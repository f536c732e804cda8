// Scenario files as a newcomer writes them.
#include <gtest/gtest.h>

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

}  // namespace
