#pragma once
#include <gtest/gtest.h>

#include <string>

#include "fake_clock.h"
#include "modem_board.h"
#include "ql_mcm.h"
#include "ql_mgmt.h"
#include "scoped_env.h"
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
    bool logged(const std::string& text) const { return syslog().find(text) != std::string::npos; }
    size_t count(const std::string& text, const std::string& needle) const {
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }
    std::string commands() const { return root_.read("/sim/commands.log"); }

    TestRoot root_;
    ModemBoard board_;
    ModemEnvironment environment_;
    FakeClock clock_;
};
