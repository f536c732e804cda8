#pragma once
#include <gtest/gtest.h>

#include <string>

#include "tests/support/fake_clock.h"
#include "sim/modem_board.h"
#include "modem_sdk/ql_mcm.h"
#include "modem_sdk/ql_mgmt.h"
#include "tests/support/scoped_env.h"
#include "tests/support/state_reset.h"
#include "tests/support/test_root.h"

// A fresh device root with the board's modem side laid out, the stand-in
// libraries pointed at it (QZ_ROOT, and its bin/ first in PATH) and a fake
// clock for the layer's waits. The layer is reset afterwards, which stops the
// stand-ins' threads.
class ModemTest : public ::testing::Test {
protected:
    ModemTest() { board_.lay_out(root_.root()); }
    ~ModemTest() override {
        mcm_client_reset();
        mgmt_reset();
    }

    void scenario(const std::string& json) const { modem_board_set_scenario(root_.root(), json); }
    void withhold(ModemFault fault) const { modem_board_withhold(root_.root(), fault); }
    std::string syslog() const { return root_.read("/sim/ql_sys.log"); }
    bool logged(const std::string& text) const { return syslog().find(text) != std::string::npos; }
    std::string commands() const { return root_.read("/sim/commands.log"); }

    TestRoot root_;
    ModemBoard board_;
    ScopedEnv rootVariable_{"QZ_ROOT", root_.root()};
    ScopedEnv path_{"PATH", path_with_first(root_.root() + "/bin")};
    FakeClock clock_;
};
