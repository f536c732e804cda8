// The wrappers' log line through the vendor's system log.
#include <sstream>

#include "modem_fixture.h"
#include "ql_api_log.h"

namespace {

using QlApiLog = ModemTest;

// The text of each line the stand-in log received, after "<level> <tag> ".
std::vector<std::string> texts(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        const size_t tag = line.find(" ql_api ");
        if (tag != std::string::npos) lines.push_back(line.substr(tag + 8));
    }
    return lines;
}

TEST_F(QlApiLog, LongTextIsCutToTheBufferAndTerminated) {
    const std::string text(600, 'x');
    EXPECT_EQ(ql_api_log("member", 42, 3, "%s", text.c_str()), 0);
    const auto lines = texts(syslog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 511u);
    EXPECT_EQ(lines[0].substr(0, 12), "[member_42] ");
    EXPECT_EQ(lines[0].find_first_not_of('x', 12), std::string::npos);
}

TEST_F(QlApiLog, PrefixLongerThanTheBufferStillEndsInside) {
    const std::string name(700, 'f');
    EXPECT_EQ(ql_api_log(name.c_str(), 1, 4, "tail"), 0);
    const auto lines = texts(syslog());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 511u);
    EXPECT_EQ(lines[0].find("tail"), std::string::npos);
}

TEST_F(QlApiLog, OnlyLevelsTwoToSevenAreWritten) {
    for (int level : {0, 1, 8, -1}) EXPECT_EQ(ql_api_log("f", 1, level, "dropped %d", level), -1);
    EXPECT_EQ(syslog(), "");
    for (int level = 2; level <= 7; ++level) EXPECT_EQ(ql_api_log("f", 1, level, "kept"), 0);
    std::istringstream in(syslog());
    int expected = 2;
    for (std::string line; std::getline(in, line); ++expected)
        EXPECT_EQ(line, std::to_string(expected) + " ql_api [f_1] kept");
    EXPECT_EQ(expected, 8);
}

}  // namespace
