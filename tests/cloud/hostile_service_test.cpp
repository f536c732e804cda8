#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>

#include "sim/hostile_sync.h"

namespace {

struct Row {
    const char* mode;
    double from, to;  // seconds the sync takes on the daemon's clock
    size_t stored;
    const char* logged;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.mode; }

// Under an emulator or a sanitizer the daemon works several times slower, and
// the fast clock would count that work as many times over: it runs slower too.
#if defined(__arm__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kSlowerBuild = 5;
#else
constexpr double kSlowerBuild = 1;
#endif

const Row kRows[] = {
    {"framing header", 0, 10, 0, ";sync;2;Refused header Content-Length for PICT0001.JPG"},
    {"repeated and unknown", 0, 10, 1,
     ";upload;1;Skipped 3 instructions: PICT0001.JPG, PICT0001.JPG, PICT0009.JPG"},
    {"answer over the limit", 170, 185, 0, ";PutCamera;2;Answer too large: https://127.0.0.1:"},
    {"silent token", 170, 185, 0, ";token;2;Get token failed: Timeout was reached"},
    {"silent storage", 55, 70, 0,
     ";sync;2;File transfer failed for PICT0001.JPG: Timeout was reached"},
    {"503", 0, 10, 0, ";sync;1;Service busy, retry after 3600"},
    {"401", 0, 15, 0, ";token;2;Token refused twice"},
    {"token of 120", 0, 10, 1, ";token;0;Get token success"},
    {"size as a float", 0, 10, 0,
     ";sync;2;Refused instruction for PICT0001.JPG: size 20000.0 is not"},
    {"+CME ERROR", 16, 30, 1, ";AT;2;Same error 9 times: +CME ERROR: 10\r\n"},
};

// The benchmark's hostile services, on the board's fast clock: each sync ends
// within its bound with its end mark, the MCU never waits more than 5 s for a
// byte, and every picture is either stored whole or still in transmit/.
class HostileService : public ::testing::TestWithParam<Row> {};

TEST_P(HostileService, SyncEndsInTimeAndKeepsEveryPicture) {
    const Row& row = GetParam();
    const std::vector<HostileMode> modes = hostile_modes();
    auto mode = std::find_if(modes.begin(), modes.end(),
                             [&](const HostileMode& m) { return m.name.rfind(row.mode, 0) == 0; });
    ASSERT_NE(mode, modes.end());
    HostileMode slower = *mode;
    slower.speed /= kSlowerBuild;
    const HostileRun run = hostile_sync_run(slower);
    ASSERT_EQ(run.failure, "");
    EXPECT_TRUE(run.ended);
    EXPECT_GE(run.seconds, row.from);
    EXPECT_LE(run.seconds, row.to);
    EXPECT_LE(run.longestSilence, 5.0);
    EXPECT_EQ(run.stored.size(), row.stored);
    std::vector<std::string> kept;
    for (const auto& [name, bytes] : run.copies)
        if (run.stored.count(name) == 0)
            kept.push_back(name);
        else
            EXPECT_EQ(run.stored.at(name), bytes) << name;
    EXPECT_EQ(run.kept, kept);
    EXPECT_NE(run.log.find(row.logged), std::string::npos) << run.log;
    EXPECT_EQ(run.sanitizerReport, "");
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileService, ::testing::ValuesIn(kRows), [](const auto& info) {
    std::string name = info.param.mode;
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
});

}  // namespace
