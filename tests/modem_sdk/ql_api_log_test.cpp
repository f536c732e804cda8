// The wrappers' log line through the vendor's system log.
#include "tests/modem_sdk/modem_fixture.h"
#include "modem_sdk/ql_api_log.h"

namespace {

using QlApiLog = ModemTest;

// The stand-in log writes "<level> ql_api <text>" for each line it receives.
TEST_F(QlApiLog, LongLinesAreCutToTheBufferAndTerminated) {
    const std::string text(600, 'x');
    const std::string name(700, 'f');
    EXPECT_EQ(ql_api_log("member", 42, 3, "%s", text.c_str()), 0);
    // A prefix longer than the buffer still ends inside it, with no room for the text.
    EXPECT_EQ(ql_api_log(name.c_str(), 1, 4, "tail"), 0);
    EXPECT_EQ(syslog(), "3 ql_api [member_42] " + std::string(499, 'x') + "\n4 ql_api [" +
                            std::string(510, 'f') + "\n");
}

}  // namespace
