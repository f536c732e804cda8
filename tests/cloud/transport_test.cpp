#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "test_root.h"
#include "transport.h"

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
    // A size product that does not fit is refused, not wrapped.
    EXPECT_EQ(http_body_append("y", SIZE_MAX / 2, 3, nullptr), 0u);
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
