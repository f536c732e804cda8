#include <gtest/gtest.h>
#include <strings.h>

#include <random>
#include <string>
#include <vector>

#include "config.h"
#include "daemon_state.h"
#include "fake_clock.h"
#include "json_util.h"
#include "mcu_protocol.h"
#include "pty_pair.h"
#include "state_reset.h"
#include "test_root.h"

namespace {

const std::vector<std::string> kSeeds = {
    "qz+getnextsync\r",  "qz+iseach\r\n",          "QZ+STATE\r",      "qz+setbatt 612 125\r",
    "qz+mcuversion 7\r", "qz+setdatetime 24 5 7 9 3 0\r", "at+cfun?\r", "qz+hello\r",
    "qz+getdatetime\r",  "qz+getsignalbar\r",      "qz+\r",           "qz transfer\r",
    "qz+sync\r",         "qz+firstsync\r",         "qz+cell\r",       "qz+process\r",
};

std::string mutate(std::string chunk, std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 5);
    int edits = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < edits; ++i) {
        size_t at = chunk.empty() ? 0 : random() % chunk.size();
        switch (kind(random)) {
            case 0: if (!chunk.empty()) chunk[at] = static_cast<char>(byte(random)); break;
            case 1: chunk.insert(at, 1, static_cast<char>(byte(random))); break;
            case 2: if (!chunk.empty()) chunk.erase(at, 1); break;
            case 3: chunk.insert(at, std::string(random() % 400, static_cast<char>(byte(random)))); break;
            case 4: chunk.insert(at, 1, '\0'); break;
            default: chunk += kSeeds[random() % kSeeds.size()]; break;
        }
    }
    return chunk.substr(0, 1024);
}

// Halting the test process, or starting a cellular thread that outlives the
// test, are what the fuzzer must not ask for.
bool selects_powerdown(const std::string& chunk) {
    return strcasestr(chunk.c_str(), "powerdown") != nullptr || strcasestr(chunk.c_str(), "+cell") != nullptr;
}

TEST(ProtocolFuzz, RandomAndMutatedChunksNeverCrash) {
    TestRoot root;
    FakeClock clock;
    config_reset();
    // A sync that gets as far as the network finds nothing listening on loopback.
    copy_text(g_config.host, sizeof g_config.host, "127.0.0.1:1");
    PtyPair mcu, at;
    g_state.mcuFd = mcu.daemon_side();
    g_state.atFd = at.daemon_side();
    std::mt19937 random(20261206);
    for (int i = 0; i < 3000; ++i) {
        std::string chunk;
        if (i % 3 == 0) {
            chunk.resize(random() % 1025);
            for (auto& c : chunk) c = static_cast<char>(random() % 256);
        } else {
            chunk = mutate(kSeeds[random() % kSeeds.size()], random);
        }
        if (selects_powerdown(chunk)) continue;
        // The reader hands over a 1024-byte buffer with a spare terminator.
        char buffer[1025] = {};
        chunk.copy(buffer, 1024);
        mcu_handle_chunk(buffer);
        if (i % 64 == 0) {
            mcu.drain();
            at.drain();
        }
    }
    g_state.mcuFd = -1;
    g_state.atFd = -1;
    config_reset();
    SUCCEED() << "3000 chunks handled";
}

}  // namespace
