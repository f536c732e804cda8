#include <gtest/gtest.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/event_log.h"
#include "tests/support/test_root.h"

namespace {

std::vector<std::string> log_lines(const TestRoot& root) {
    std::vector<std::string> lines;
    std::string text = root.log();
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// Control characters become blanks and trailing blanks go: outside texts (AT
// answers, cloud names, camera dates) can neither split an entry nor forge one.
TEST(EventLog, LinesHaveStampTagCodeAndOneLineMessageCutTo1023) {
    TestRoot root;
    std::string longMessage(2000, 'x');
    longMessage[1022] = 'L';
    const std::pair<std::string, std::string> cases[] = {
        {"Modem power-on", "Modem power-on"},
        {"a;b", "a;b"},
        {"\r\nOK\r\n", "  OK"},
        {"name\twith\ttabs \t ", "name with tabs"},
        {"05:07\n2024-05-07 09:03:00;sync;0;forged", "05:07 2024-05-07 09:03:00;sync;0;forged"},
        {"bell\a, del\x7f, bare\rcr", "bell , del , bare cr"},
        {longMessage, longMessage.substr(0, 1023)},
    };
    for (const auto& [message, written] : cases) EXPECT_EQ(log_event("uart", -2, "%s", message.c_str()), 1);
    EXPECT_EQ(log_event("uart", 2, "%s", ""), -1);
    EXPECT_EQ(log_event("uart", 2, "%s", "\r\n"), -1);
    const auto lines = log_lines(root);
    ASSERT_EQ(lines.size(), std::size(cases));
    // After the stamp, clock_format's "YYYY-MM-DD hh:mm:ss".
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].substr(19), ";uart;-2;" + cases[i].second);
}

TEST(EventLog, MissingOrFullCardReportsFailure) {
    TestRoot root;
    ASSERT_EQ(symlink("/dev/full", root.path("/media/sdcard/log.txt").c_str()), 0);
    EXPECT_EQ(log_event("main", 0, "Modem power-on"), -1);
    ASSERT_EQ(unlink(root.path("/media/sdcard/log.txt").c_str()), 0);
    ASSERT_EQ(rmdir(root.path("/media/sdcard").c_str()), 0);
    EXPECT_EQ(log_event("main", 0, "Modem power-on"), -1);
    EXPECT_FALSE(root.exists("/media/sdcard"));
}

TEST(EventLog, LinesFromSeveralThreadsNeverInterleave) {
    TestRoot root;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            const std::string body(300, static_cast<char>('a' + t));
            for (int i = 0; i < 50; ++i) log_event("t", t, "%s", body.c_str());
        });
    for (auto& thread : threads) thread.join();
    const auto lines = log_lines(root);
    ASSERT_EQ(lines.size(), 200u);
    for (const auto& line : lines) {
        const std::string body = line.substr(line.rfind(';') + 1);
        EXPECT_EQ(body, std::string(300, body[0])) << line;
    }
}

}  // namespace
