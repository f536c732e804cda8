#include <gtest/gtest.h>
#include <json-c/json.h>

#include <cstdio>
#include <string>

#include "json_util.h"
#include "transport.h"

namespace {

TEST(Transport, AnswerBodyIsKeptUpToItsLimit) {
    std::string chunk(64 * 1024, 'x');
    ResponseBuffer body;
    size_t taken = 0;
    for (int i = 0; i < 16; ++i) taken += http_body_append(chunk.data(), 1, chunk.size(), &body);
    EXPECT_EQ(taken, kHttpAnswerLimit);
    EXPECT_EQ(body.data.size(), kHttpAnswerLimit);
    // One byte more aborts the transfer; without a buffer the bytes are dropped.
    EXPECT_EQ(http_body_append("y", 1, 1, &body), 0u);
    EXPECT_EQ(http_body_append(chunk.data(), 1, chunk.size(), nullptr), chunk.size());
    // A size product that does not fit is refused, not wrapped.
    EXPECT_EQ(http_body_append("y", SIZE_MAX / 2, 3, nullptr), 0u);
}

TEST(Transport, WithoutHandleNothingIsTried) {
    http_cleanup();
    JsonPtr answer;
    JsonPtr document(json_object_new_object());
    EXPECT_EQ(http_get_json("https://127.0.0.1:1/", &answer), kHttpNoHandle);
    EXPECT_EQ(http_put_json("https://127.0.0.1:1/", &answer, document.get(), "t"), kHttpNoHandle);
    EXPECT_EQ(http_upload_file("https://127.0.0.1:1/", "PUT", stdin, 0, nullptr), kHttpNoHandle);
    EXPECT_EQ(http_download_file("https://127.0.0.1:1/", "GET", stdout, nullptr), kHttpNoHandle);
    EXPECT_EQ(http_last_status(), 0);
}

TEST(Transport, HeaderEntriesThatCannotBeSentAreRefused) {
    struct Case {
        const char* headers;
        bool valid;
    } cases[] = {
        {"[]", true},
        {R"([{"name": "x-amz-acl", "value": "private"}, {"name": "A", "value": ""}])", true},
        {R"([{"name": "x-a", "value": "1\r\nx-b: 2"}])", false},
        {R"([{"name": "x-a\nx-b", "value": "1"}])", false},
        {R"([{"name": "x-a"}])", false},
        {R"([{"name": "x-a", "value": 5}])", false},
        {R"(["x-a: 1"])", false},
        {R"({"name": "x-a", "value": "1"})", false},
    };
    for (const Case& c : cases) {
        JsonPtr headers = json_parse(c.headers);
        EXPECT_EQ(http_headers_valid(headers.get()), c.valid) << c.headers;
        if (!c.valid) {
            ASSERT_EQ(http_init(), 1);
            EXPECT_EQ(http_upload_file("https://127.0.0.1:1/", "PUT", stdin, 0, headers.get()),
                      kHttpNotPrepared)
                << c.headers;
            http_cleanup();
        }
    }
}

}  // namespace
