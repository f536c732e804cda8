// The simulated modem behind the stand-ins follows the board and the scenario.
#include <cstring>
#include <filesystem>

#include "board_gpio.h"
#include "modem_fixture.h"

namespace {

class SimulatedModem : public ModemTest {
protected:
    SimulatedModem() {
        // The SIM-control lines as exported by the daemon's set-up.
        for (const char* line : {"/sys/class/gpio/gpio7/value", "/sys/class/gpio/gpio22/value"})
            root_.write(line, "0\n");
        scenario(kTwoCards);
        EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim_), 0);
    }
    std::string iccid() const {
        char text[22]{};
        return QL_MCM_SIM_GetICCID(sim_, kQlSimSlot1, text, sizeof text) == 0 ? text : "none";
    }
    uint32_t card_state() const {
        QlSimCardStatus status{};
        EXPECT_EQ(QL_MCM_SIM_GetCardStatus(sim_, kQlSimSlot1, &status), 0);
        return status.card_state;
    }

    static constexpr const char* kTwoCards = R"({"slots": [
        {"state": "ready", "iccid": "89000000000000000001", "imsi": "234500000000001"},
        {"state": "ready", "iccid": "89000000000000000002", "imsi": "311480000000002", "pin": "1234"}],
        "network": {"radio": 4, "mcc": "234", "mnc": "50"}})";
    uint32_t sim_ = 0;
};

TEST_F(SimulatedModem, CardFollowsTheSimControlLines) {
    EXPECT_EQ(iccid(), "89000000000000000001");
    sim_gpio_select(1);
    EXPECT_EQ(iccid(), "89000000000000000002");
    root_.write("/sys/class/gpio/gpio22/value", "0\n");
    EXPECT_NE(card_state(), kQlSimCardReady) << "lines half switched: no card";
    EXPECT_EQ(iccid(), "none");
    sim_gpio_select(0);
    EXPECT_EQ(iccid(), "89000000000000000001");
}

TEST_F(SimulatedModem, CardComesBackLockedAfterASwitch) {
    sim_gpio_select(1);
    QlSimPin pin{kQlSimSlot1, kQlSimApp3gpp, kQlSimPin1, 4, {'1', '2', '3', '4'}};
    ASSERT_EQ(QL_MCM_SIM_VerifyPIN(sim_, &pin), 0);
    QlSimCardStatus status{};
    ASSERT_EQ(QL_MCM_SIM_GetCardStatus(sim_, kQlSimSlot1, &status), 0);
    EXPECT_NE(status.app.app_state, kQlSimAppPinRequired);
    sim_gpio_select(0);
    EXPECT_EQ(card_state(), kQlSimCardReady);
    sim_gpio_select(1);
    ASSERT_EQ(QL_MCM_SIM_GetCardStatus(sim_, kQlSimSlot1, &status), 0);
    EXPECT_EQ(status.app.app_state, kQlSimAppPinRequired);
}

TEST_F(SimulatedModem, RegistrationNeedsAnUnlockedCardAndFollowsTheScenario) {
    uint32_t nw = 0;
    ASSERT_EQ(QL_MCM_NW_Client_Init(&nw), 0);
    QlNwRegStatus reg{};
    ASSERT_EQ(QL_MCM_NW_GetRegStatus(nw, &reg), 0);
    EXPECT_STREQ(reg.detail2.mnc, "50");
    std::string changed = kTwoCards;
    changed.replace(changed.find("\"50\""), 4, "\"51\"");
    scenario(changed);
    reg = {};
    ASSERT_EQ(QL_MCM_NW_GetRegStatus(nw, &reg), 0);
    EXPECT_STREQ(reg.detail2.mnc, "51") << "the scenario is read again when it changes";
    sim_gpio_select(1);
    reg = {};
    ASSERT_EQ(QL_MCM_NW_GetRegStatus(nw, &reg), 0);
    EXPECT_EQ(reg.detail2.valid, 0u) << "a locked card does not register";
}

TEST_F(SimulatedModem, HalfWrittenScenarioKeepsTheLastGoodOne) {
    EXPECT_EQ(iccid(), "89000000000000000001");
    root_.write("/sim/modem.json", R"({"slots": [{"state": "absent"})");
    EXPECT_EQ(iccid(), "89000000000000000001");
}

Signal g_dropped;
uint32_t g_reason = 0;
void on_event(const QlDataCallEvent* event) {
    if (event->state == 0) {
        g_reason = event->reason;
        g_dropped.raise();
    }
}

TEST_F(SimulatedModem, PulledCardDropsTheCall) {
    g_dropped.reset();
    ASSERT_EQ(QL_Data_Call_Init(on_event), 0);
    scenario(std::string(kTwoCards).replace(1, 0, R"("data_call": {"delay": 0},)"));
    QlDataCallStart start{};
    start.profile_index = 3;
    int error = 0;
    ASSERT_EQ(QL_Data_Call_Start(&start, &error), 0);
    QlDataCallInfo info{};
    for (int tries = 0; tries < 250 && info.state != 1; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(QL_Data_Call_Info_Get(3, 0, &info, nullptr), 0);
    }
    ASSERT_EQ(info.state, 1u);
    scenario(R"({"slots": [{"state": "absent"}]})");
    ASSERT_TRUE(g_dropped.wait_for());
    EXPECT_NE(g_reason, 0u);
    EXPECT_NE(root_.read("/sim/modem.log").find("data call event: profile 3 disconnected"),
              std::string::npos);
}

}  // namespace
