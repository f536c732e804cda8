#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "event_log.h"
#include "test_root.h"

namespace {

std::vector<std::string> log_lines(const TestRoot& root) {
    std::vector<std::string> lines;
    std::string text = root.read("/media/sdcard/log.txt");
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

TEST(EventLog, LineHasStampTagCodeAndMessage) {
    TestRoot root;
    EXPECT_EQ(log_event("main", 0, "Modem %s", "power-on"), 1);
    EXPECT_EQ(log_event("uart", -2, "a;b"), 1);
    auto lines = log_lines(root);
    ASSERT_EQ(lines.size(), 2u);
    // "YYYY-MM-DD hh:mm:ss;tag;code;message"
    ASSERT_EQ(lines[0].size(), 19u + std::string(";main;0;Modem power-on").size());
    EXPECT_EQ(lines[0][4], '-');
    EXPECT_EQ(lines[0][10], ' ');
    EXPECT_EQ(lines[0].substr(19), ";main;0;Modem power-on");
    EXPECT_EQ(lines[1].substr(19), ";uart;-2;a;b");
}

TEST(EventLog, EmptyMessageIsNotWritten) {
    TestRoot root;
    EXPECT_EQ(log_event("uart", 2, "%s", ""), -1);
    EXPECT_FALSE(root.exists("/media/sdcard/log.txt"));
}

TEST(EventLog, LongMessageIsCutTo1023Characters) {
    TestRoot root;
    std::string message(2000, 'x');
    message[1022] = 'L';
    EXPECT_EQ(log_event("image", 1, "%s", message.c_str()), 1);
    auto lines = log_lines(root);
    ASSERT_EQ(lines.size(), 1u);
    std::string written = lines[0].substr(lines[0].find(";1;") + 3);
    EXPECT_EQ(written.size(), 1023u);
    EXPECT_EQ(written.back(), 'L');
}

TEST(EventLog, MissingCardDropsEntries) {
    TestRoot root;
    ASSERT_EQ(rmdir(root.path("/media/sdcard").c_str()), 0);
    EXPECT_EQ(log_event("main", 0, "Modem power-on"), -1);
    EXPECT_FALSE(root.exists("/media/sdcard"));
}

TEST(EventLog, LinesFromSeveralThreadsNeverInterleave) {
    TestRoot root;
    constexpr int kThreads = 4, kLines = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            std::string body(300, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) log_event("t", t, "%s", body.c_str());
        });
    for (auto& thread : threads) thread.join();
    auto lines = log_lines(root);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& line : lines) {
        std::string body = line.substr(line.rfind(';') + 1);
        ASSERT_EQ(body.size(), 300u);
        EXPECT_EQ(body.find_first_not_of(body[0]), std::string::npos) << line;
    }
}

}  // namespace
