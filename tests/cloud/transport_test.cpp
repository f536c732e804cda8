#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_root.h"
#include "cloud/transport.h"

namespace {

TEST(Transport, AnswerBodyIsKeptUpToItsLimit) {
    std::string chunk(64 * 1024, 'x');
    ResponseBuffer body;
    size_t taken = 0;
    for (int i = 0; i < 16; ++i) taken += http_body_append(chunk.data(), 1, chunk.size(), &body);
    EXPECT_EQ(taken, kHttpAnswerLimit);
    // One byte more aborts the transfer; without a buffer the bytes are dropped.
    EXPECT_EQ(http_body_append("y", 1, 1, &body), 0u);
    EXPECT_EQ(body.data.size(), kHttpAnswerLimit);
    EXPECT_EQ(http_body_append(chunk.data(), 1, chunk.size(), nullptr), chunk.size());
}

// json-c spends hundreds of bytes on each value: an answer is parsed only
// while its values and its depth stay within bounds.
TEST(Transport, AnswersOfTooManyValuesOrTooDeepAreRefused) {
    auto objects = [](size_t count) {
        std::string text = "[{}";
        for (size_t i = 1; i < count; ++i) text += ",{}";
        return text + "]";
    };
    const struct {
        std::string text;
        bool taken, parsed;
    } cases[] = {
        {objects(kHttpAnswerValues - 1), true, true},  // the array is a value too
        {objects(kHttpAnswerValues), false, false},
        {R"(["{,{,{,{", 1])", true, true},             // commas and braces in a text count for nothing
        {std::string(16, '[') + std::string(16, ']'), true, true},
        {std::string(17, '[') + std::string(17, ']'), false, false},
        {"<html>", true, false},
    };
    for (const auto& c : cases) {
        JsonPtr value;
        EXPECT_EQ(json_parse_bounded(c.text, kHttpAnswerValues, 16, value), c.taken) << c.text.size();
        EXPECT_EQ(value != nullptr, c.parsed) << c.text.size();
    }
}

TEST(Transport, OnlyHttpsIsSpoken) {
    TestRoot root;
    ASSERT_EQ(http_init(), 1);
    std::string target = "file://" + root.path("/etc/planted");
    EXPECT_EQ(http_upload_file(target.c_str(), "PUT", stdin, 0, nullptr), kHttpFailed);
    EXPECT_STREQ(http_last_error_text(), "Unsupported protocol");
    EXPECT_FALSE(root.exists("/etc/planted"));
    http_cleanup();
}

}  // namespace
