// The request members against the simulated modem.
#include <cstring>
#include <functional>

#include "modem_fixture.h"

namespace {

class McmServices : public ModemTest {
protected:
    McmServices() {
        EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim_), 0);
        EXPECT_EQ(QL_MCM_NW_Client_Init(&nw_), 0);
        EXPECT_EQ(QL_MCM_DM_Client_Init(&dm_), 0);
    }
    uint32_t sim_ = 0, nw_ = 0, dm_ = 0;
    const QlSimApp app_{kQlSimSlot1, kQlSimApp3gpp};
};

constexpr const char* kOpenCard = R"({"slots": [{"state": "ready", "iccid": "8944500102198304826F",
    "imsi": "234500012345678"}]})";

TEST_F(McmServices, ImsiNeedsRoomForMoreThanItsCharacters) {
    scenario(kOpenCard);
    char exact[15]{};
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, exact, sizeof exact), kQlBufferTooSmall);
    EXPECT_NE(syslog().find("Error ocurred, Buffer not enough"), std::string::npos);
    char imsi[16]{};
    ASSERT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, imsi, sizeof imsi), 0);
    EXPECT_STREQ(imsi, "234500012345678");
}

TEST_F(McmServices, SubscriberTextArgumentsAndMissingItems) {
    char text[32]{};
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, nullptr, text, sizeof text), kQlBadArgument);
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, nullptr, sizeof text), kQlBadArgument);
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, text, 0), kQlBadArgument);
    EXPECT_EQ(count(syslog(), "Invalid param"), 3u);
    scenario(R"({"slots": [{"state": "ready", "iccid": "", "imsi": ""}]})");
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, text, sizeof text), kQlNoItem);
    EXPECT_NE(syslog().find("Cannot get phone number !"), std::string::npos);
    EXPECT_EQ(QL_MCM_SIM_GetICCID(sim_, kQlSimSlot1, text, sizeof text), kQlNoItem);
    EXPECT_NE(syslog().find("Cannot get ICCID"), std::string::npos);
}

TEST_F(McmServices, IccidComesWithItsFillerAndNeedsNoPin) {
    char iccid[22]{};
    ASSERT_EQ(QL_MCM_SIM_GetICCID(sim_, kQlSimSlot1, iccid, sizeof iccid), 0);
    EXPECT_STREQ(iccid, "8944500102198304826F");
}

TEST_F(McmServices, LockedCardAsksForItsPinBeforeItsImsi) {
    QlSimCardStatus status{};
    ASSERT_EQ(QL_MCM_SIM_GetCardStatus(sim_, kQlSimSlot1, &status), 0);
    EXPECT_EQ(status.card_state, kQlSimCardReady);
    EXPECT_EQ(status.app.app_state, kQlSimAppPinRequired);
    char imsi[17]{};
    EXPECT_NE(QL_MCM_SIM_GetIMSI(sim_, &app_, imsi, sizeof imsi), 0);
    EXPECT_NE(syslog().find("Failed to get sim subscriber, ret_val=0, resp_code= 1"),
              std::string::npos);

    QlSimPin wrong{kQlSimSlot1, kQlSimApp3gpp, kQlSimPin1, 8, {'0', '0', '0', '0', '0', '0', '0', '0'}};
    EXPECT_NE(QL_MCM_SIM_VerifyPIN(sim_, &wrong), 0);
    EXPECT_NE(syslog().find("Failed to verify pin, ret_val=0, resp_code= 1"), std::string::npos);
    QlSimPin right{kQlSimSlot1, kQlSimApp3gpp, kQlSimPin1, 8, {}};
    std::memcpy(right.pin, "73150284", 8);
    EXPECT_EQ(QL_MCM_SIM_VerifyPIN(sim_, &right), 0);
    ASSERT_EQ(QL_MCM_SIM_GetCardStatus(sim_, kQlSimSlot1, &status), 0);
    EXPECT_NE(status.app.app_state, kQlSimAppPinRequired);
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, imsi, sizeof imsi), 0);
    EXPECT_STREQ(imsi, "234500012345678");
}

TEST_F(McmServices, SignalFillsOnlyTheValidGroups) {
    scenario(R"({"signal": {"gsm": -73, "lte": -100}})");
    QlNwSignalStrength signal{};
    ASSERT_EQ(QL_MCM_NW_GetSignalStrength(nw_, &signal), 0);
    EXPECT_EQ(signal.gsm_valid, 1);
    EXPECT_EQ(signal.gsm_rssi, -73);
    EXPECT_EQ(signal.lte_valid, 1);
    EXPECT_EQ(signal.lte_rsrp, -100);
    EXPECT_EQ(signal.wcdma_valid + signal.tdscdma_valid + signal.cdma_valid + signal.hdr_valid, 0);
    EXPECT_EQ(QL_MCM_NW_GetSignalStrength(nw_, nullptr), kQlBadArgument);
    EXPECT_NE(syslog().find("Invalid param, pt_info is null"), std::string::npos);
}

TEST_F(McmServices, RegistrationFillsTheDetailBlockOfItsFamily) {
    scenario(std::string(kOpenCard).replace(1, 0, R"("network": {"radio": 4, "mcc": "234",
        "mnc": "50", "cell_id": 20811, "lac": 0, "tac": 4660},)"));
    QlNwRegStatus reg{};
    ASSERT_EQ(QL_MCM_NW_GetRegStatus(nw_, &reg), 0);
    EXPECT_EQ(reg.detail2.valid, 1u);
    EXPECT_EQ(reg.detail2.radio_tech, 4u);
    EXPECT_STREQ(reg.detail2.mcc, "234");
    EXPECT_STREQ(reg.detail2.mnc, "50");
    EXPECT_EQ(reg.detail2.cell_id, 20811u);
    EXPECT_EQ(reg.detail2.tac, 4660u);
    EXPECT_EQ(reg.short2.valid, 0u);

    scenario(std::string(kOpenCard).replace(1, 0, R"("network": {"radio": 12, "mcc": "310",
        "mnc": "12"},)"));
    reg = {};
    ASSERT_EQ(QL_MCM_NW_GetRegStatus(nw_, &reg), 0);
    EXPECT_EQ(reg.detail2.valid, 0u);
    EXPECT_EQ(reg.short2.valid, 1u);
    EXPECT_EQ(reg.short2.radio_tech, 12u);
    EXPECT_STREQ(reg.short2.mcc, "310");
}

TEST_F(McmServices, NitzTextCarriesTheOffsetAtSeventeen) {
    scenario(std::string(kOpenCard).replace(1, 0,
        R"("network": {"radio": 4}, "nitz": "24/05/07,09:03:00+04,0",)"));
    QlNwNitzTime nitz{};
    ASSERT_EQ(QL_MCM_NW_GetNitzTimeInfo(nw_, &nitz), 0);
    EXPECT_STREQ(nitz.nitz_time, "24/05/07,09:03:00+04,0");
    EXPECT_EQ(std::string(nitz.nitz_time + 17, 3), "+04");
}

TEST_F(McmServices, IdentityOfTheModem) {
    scenario(R"({"imei": "866123045678901", "firmware": "QZM01R06A01"})");
    QlDmSerialNumbers serials{};
    ASSERT_EQ(QL_MCM_DM_GetSerialNumbers(dm_, &serials), 0);
    EXPECT_EQ(serials.imei_valid, 1);
    EXPECT_STREQ(serials.imei, "866123045678901");
    EXPECT_EQ(serials.meid_valid, 0);
    QlDmFirmware firmware{};
    ASSERT_EQ(QL_MCM_DM_GetFirmware(dm_, &firmware), 0);
    EXPECT_STREQ(firmware.revision, "QZM01R06A01");
    EXPECT_EQ(QL_MCM_DM_GetSerialNumbers(0, &serials), -1);
    EXPECT_NE(syslog().find("Parameter invalid.\th_dm:0,  serial_numbers:"), std::string::npos);
    EXPECT_EQ(QL_MCM_DM_GetFirmware(dm_, nullptr), -1);
    EXPECT_NE(syslog().find("Parameter invalid. h_dm:"), std::string::npos);
    uint32_t mode = 0;
    EXPECT_EQ(QL_MCM_DM_GetAirplaneMode(dm_, &mode), 0);
    EXPECT_EQ(mode, 3u) << "the modem does not say";
}

// Forced answers of the library and what each member's rule makes of them.
struct RuleCase {
    const char* name;
    uint32_t msgId;
    int ret;
    uint32_t resp;
    uint32_t error;
    int expected;
};

class McmResultRules : public McmServices, public ::testing::WithParamInterface<RuleCase> {};

int call_member(uint32_t msgId, uint32_t sim, uint32_t nw, uint32_t dm) {
    const QlSimApp app{kQlSimSlot1, kQlSimApp3gpp};
    char text[32]{};
    QlSimCardStatus status{};
    QlNwSignalStrength signal{};
    QlNwNitzTime nitz{};
    QlNwRegStatus reg{};
    QlDmSerialNumbers serials{};
    QlDmFirmware firmware{};
    switch (msgId) {
        case 0x0B00: return QL_MCM_SIM_GetIMSI(sim, &app, text, sizeof text);
        case 0x0B0C: return QL_MCM_SIM_GetCardStatus(sim, kQlSimSlot1, &status);
        case 0x0507: return QL_MCM_NW_GetSignalStrength(nw, &signal);
        case 0x0509: return QL_MCM_NW_GetNitzTimeInfo(nw, &nitz);
        case 0x0502: return QL_MCM_NW_GetRegStatus(nw, &reg);
        case 0x02A0: return QL_MCM_DM_GetSerialNumbers(dm, &serials);
        case 0x02A1: return QL_MCM_DM_GetFirmware(dm, &firmware);
    }
    return -1000;
}

TEST_P(McmResultRules, ResultFollowsTheMembersRule) {
    const RuleCase& c = GetParam();
    char forced[160];
    std::snprintf(forced, sizeof forced,
                  R"({"slots": [{"state": "ready", "imsi": "1"}],
                      "failures": {"0x%04X": {"ret": %d, "resp": %u, "error": %u}}})",
                  c.msgId, c.ret, c.resp, c.error);
    scenario(forced);
    EXPECT_EQ(call_member(c.msgId, sim_, nw_, dm_), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Members, McmResultRules,
    ::testing::Values(
        RuleCase{"ImsiErrorCode", 0x0B00, 0, 1, 7, 7}, RuleCase{"ImsiTransport", 0x0B00, 5, 0, 0, 5},
        RuleCase{"ImsiFailureWithoutCode", 0x0B00, 0, 1, 0, 1},
        RuleCase{"CardStatusIgnoresResp", 0x0B0C, 0, 1, 0, kQlNoItem},
        RuleCase{"CardStatusErrorCode", 0x0B0C, 0, 0, 7, 7},
        RuleCase{"SignalIgnoresCodes", 0x0507, 0, 1, 7, 0},
        RuleCase{"SignalTransport", 0x0507, 6, 0, 0, 6},
        RuleCase{"NitzIgnoresCodes", 0x0509, 0, 1, 7, 0},
        RuleCase{"RegistrationTransportFirst", 0x0502, 5, 1, 7, 5},
        RuleCase{"RegistrationErrorCode", 0x0502, 0, 1, 7, 7},
        RuleCase{"RegistrationFailureWithoutCode", 0x0502, 0, 2, 0, 2},
        RuleCase{"SerialNumbers", 0x02A0, 0, 1, 7, -19},
        RuleCase{"SerialNumbersTransport", 0x02A0, 3, 0, 0, -19},
        RuleCase{"Firmware", 0x02A1, 0, 1, 0, -19}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

TEST_F(McmServices, FailureTextsNameTheCodes) {
    scenario(R"({"failures": {"0x0B0C": {"error": 7}, "0x02A0": {"resp": 1, "error": 2},
        "0x0B01": {"resp": 1, "error": 3}}})");
    QlSimCardStatus status{};
    QL_MCM_SIM_GetCardStatus(sim_, kQlSimSlot1, &status);
    QlDmSerialNumbers serials{};
    QL_MCM_DM_GetSerialNumbers(dm_, &serials);
    char iccid[22]{};
    QL_MCM_SIM_GetICCID(sim_, kQlSimSlot1, iccid, sizeof iccid);
    const std::string log = syslog();
    EXPECT_NE(log.find("Failed to get card status, ret_val=0, resp_code= 0, error_code=7"),
              std::string::npos);
    EXPECT_NE(log.find("Failed to get device sn, rc=0, error=2"), std::string::npos);
    EXPECT_NE(log.find("Failed to get card id, ret_val=0, resp_code= 1, error_code=3\n"),
              std::string::npos);
}

TEST_F(McmServices, MembersTheDaemonDoesNotCallStillExchange) {
    QlNwConfig config{};
    EXPECT_EQ(QL_MCM_NW_GetConfig(nw_, &config), 0);
    EXPECT_EQ(QL_MCM_NW_SetConfig(nw_, &config), 0);
    EXPECT_EQ(QL_MCM_NW_SetLowPowerMode(nw_, 1), 0);
    auto scan = std::make_unique<QlNwScanResult>();
    EXPECT_EQ(QL_MCM_NW_PerformScan(nw_, scan.get()), 0);
    QlSimPlmnList plmns{};
    EXPECT_EQ(QL_MCM_SIM_GetOperatorPlmnList(sim_, kQlSimSlot1, &plmns), kQlNoItem);
    EXPECT_NE(syslog().find("Cannot get plmn list"), std::string::npos);
    EXPECT_EQ(QL_MCM_SIM_WriteFile(sim_, nullptr), kQlBadArgument);
}

}  // namespace
