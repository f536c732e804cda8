#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "fake_clock.h"
#include "modem_board.h"
#include "scoped_env.h"
#include "ql_mcm.h"
#include "ql_mgmt.h"
#include "state_reset.h"
#include "test_root.h"

// QZ_ROOT set to the root and its bin/ first in PATH for the object's
// lifetime, for tests that call the wrappers and stand-ins in process.
struct ModemEnvironment {
    explicit ModemEnvironment(const std::string& root)
        : root_("QZ_ROOT", root), path_("PATH", path_with_first(root + "/bin")) {}
    ScopedEnv root_;
    ScopedEnv path_;
};

// A fresh device root with the board's modem side laid out, the stand-in
// libraries pointed at it and a fake clock for the layer's waits. The layer
// is reset afterwards, which stops the stand-ins' threads.
class ModemTest : public ::testing::Test {
protected:
    ModemTest() : environment_(root_.root()) { board_.lay_out(root_.root()); }
    ~ModemTest() override {
        mcm_client_reset();
        mgmt_reset();
    }

    void scenario(const std::string& json) const { modem_board_set_scenario(root_.root(), json); }
    void withhold(ModemFault fault) const { modem_board_withhold(root_.root(), fault); }
    std::string syslog() const { return root_.read("/sim/ql_sys.log"); }
    std::string commands() const { return root_.read("/sim/commands.log"); }

    static size_t count(const std::string& text, const std::string& needle) {
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }

    TestRoot root_;
    ModemBoard board_;
    ModemEnvironment environment_;
    FakeClock clock_;
};

// Something a library thread sets; waited for in real time, a few seconds at most.
class Signal {
public:
    void raise() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    bool wait_for(int times = 1) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return count_ >= times; });
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        count_ = 0;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};
