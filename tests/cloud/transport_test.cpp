#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

}  // namespace
