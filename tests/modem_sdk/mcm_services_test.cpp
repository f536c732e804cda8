// The request members: what leaves for the library, and what each makes of the answer.
#include <mcm_client.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "tests/modem_sdk/modem_fixture.h"

// Every request as it leaves, seen through the linker's wrapping.
namespace {
struct Sent {
    uint32_t msgId, requestLength, responseLength;
    std::vector<uint8_t> bytes;
};
std::vector<Sent> g_sent;
void record(uint32_t id, const void* request, uint32_t length, uint32_t size) {
    const auto* bytes = static_cast<const uint8_t*>(request);
    g_sent.push_back({id, length, size, std::vector<uint8_t>(bytes, bytes + length)});
}
}  // namespace

extern "C" {
int __real_mcm_client_execute_command_sync(uint32_t, uint32_t, void*, uint32_t, void*, uint32_t);
int __real_mcm_client_execute_command_sync_ex(uint32_t, uint32_t, void*, uint32_t, void*, uint32_t,
                                              uint32_t);
int __wrap_mcm_client_execute_command_sync(uint32_t handle, uint32_t id, void* request,
                                           uint32_t length, void* response, uint32_t size) {
    record(id, request, length, size);
    return __real_mcm_client_execute_command_sync(handle, id, request, length, response, size);
}
int __wrap_mcm_client_execute_command_sync_ex(uint32_t handle, uint32_t id, void* request,
                                              uint32_t length, void* response, uint32_t size,
                                              uint32_t timeout) {
    record(id, request, length, size);
    return __real_mcm_client_execute_command_sync_ex(handle, id, request, length, response, size,
                                                     timeout);
}
}

namespace {

class McmServices : public ModemTest {
protected:
    McmServices() {
        EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim_), 0);
        EXPECT_EQ(QL_MCM_NW_Client_Init(&nw_), 0);
        EXPECT_EQ(QL_MCM_DM_Client_Init(&dm_), 0);
        g_sent.clear();
    }
    // Calls the member that sends msgId, into the fixture's records.
    int call(uint32_t msgId) {
        switch (msgId) {
            case 0x0B00: return QL_MCM_SIM_GetIMSI(sim_, &app_, text_, sizeof text_);
            case 0x0B01: return QL_MCM_SIM_GetICCID(sim_, kQlSimSlot1, text_, sizeof text_);
            case 0x0B0C: return QL_MCM_SIM_GetCardStatus(sim_, kQlSimSlot1, &status_);
            case 0x0B07: return QL_MCM_SIM_VerifyPIN(sim_, &pin_);
            case 0x0507: return QL_MCM_NW_GetSignalStrength(nw_, &signal_);
            case 0x0502: return QL_MCM_NW_GetRegStatus(nw_, &reg_);
            case 0x0509: return QL_MCM_NW_GetNitzTimeInfo(nw_, &nitz_);
            case 0x0503: return QL_MCM_NW_PerformScan(nw_, scan_.get());
            case 0x02A0: return QL_MCM_DM_GetSerialNumbers(dm_, &serials_);
            case 0x02A1: return QL_MCM_DM_GetFirmware(dm_, &firmware_);
            case 0x0201: return QL_MCM_DM_GetAirplaneMode(dm_, &mode_);
            case 0x0B0F: return ql_mcm_sim_reg_events();
            case 0x0706: return ql_mcm_sms_reg_events();
            case 0x100B: return ql_mcm_voice_register_indication();
            case 0x0800: return ql_mcm_required_service_updown(sim_, 1, 0x08);
        }
        ADD_FAILURE() << "no member sends " << std::hex << msgId;
        return -1;
    }

    uint32_t sim_ = 0, nw_ = 0, dm_ = 0;
    const QlSimApp app_{kQlSimSlot1, kQlSimApp3gpp};
    const QlSimPin pin_{kQlSimSlot1, kQlSimApp3gpp, kQlSimPin1, 4, {'1', '2', '3', '4'}};
    char text_[32]{};
    QlSimCardStatus status_{};
    QlNwSignalStrength signal_{};
    QlNwRegStatus reg_{};
    QlNwNitzTime nitz_{};
    std::unique_ptr<QlNwScanResult> scan_ = std::make_unique<QlNwScanResult>();
    QlDmSerialNumbers serials_{};
    QlDmFirmware firmware_{};
    uint32_t mode_ = 0;
};

TEST_F(McmServices, EveryRequestLeavesWithItsMessagesLengthsAndBytes) {
    const std::vector<uint8_t> slot{0x01, 0x0B, 0, 0};
    // The library's record lengths and the bytes of the daemon's requests, as
    // the vendor's library expects them (little-endian words).
    const Sent expected[] = {
        {0x0B00, 8, 32, {0x01, 0x0B, 0, 0, 0x01, 0x0B, 0, 0}},
        {0x0B01, 4, 36, slot},
        {0x0B0C, 4, 116, slot},
        {0x0B07, 24, 12, {0x01, 0x0B, 0, 0, 0x01, 0x0B, 0, 0, 0x01, 0x0B, 0, 0, 4, 0, 0, 0,
                          '1', '2', '3', '4', 0, 0, 0, 0}},
        {0x0507, 1, 52, {0}},
        {0x0502, 1, 208, {0}},
        {0x0509, 1, 64, {0}},
        {0x02A0, 1, 76, {0}},
        {0x02A1, 1, 268, {0}},
        {0x0201, 1, 16, {0}},
        {0x0503, 1, 41776, {0}},
        {0x0B0F, 4, 8, {1, 1, 1, 1}},
        {0x0706, 2, 8, {1, 1}},
        {0x100B, 14, 8, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}},
        {0x0800, 2, 8, {0x08, 0}},
    };
    for (const Sent& want : expected) {
        g_sent.clear();
        call(want.msgId);
        ASSERT_EQ(g_sent.size(), 1u) << std::hex << want.msgId;
        const Sent& sent = g_sent[0];
        EXPECT_EQ(sent.msgId, want.msgId);
        EXPECT_EQ(sent.requestLength, want.requestLength) << std::hex << want.msgId;
        EXPECT_EQ(sent.responseLength, want.responseLength) << std::hex << want.msgId;
        EXPECT_EQ(sent.bytes, want.bytes) << std::hex << want.msgId;
    }
}

TEST_F(McmServices, SubscriberTextsNeedRoomAndAValidItem) {
    scenario(R"({"slots": [{"state": "ready", "iccid": "8944500102198304826F",
        "imsi": "234500012345678"}]})");
    char exact[15]{}, imsi[16]{}, iccid[21]{};
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, exact, sizeof exact), kQlBufferTooSmall);
    EXPECT_TRUE(logged("Error ocurred, Buffer not enough"));
    ASSERT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, imsi, sizeof imsi), 0);
    EXPECT_STREQ(imsi, "234500012345678");
    ASSERT_EQ(QL_MCM_SIM_GetICCID(sim_, kQlSimSlot1, iccid, sizeof iccid), 0);
    EXPECT_STREQ(iccid, "8944500102198304826F");
    scenario(R"({"slots": [{"state": "ready", "iccid": "", "imsi": ""}]})");
    EXPECT_EQ(QL_MCM_SIM_GetIMSI(sim_, &app_, imsi, sizeof imsi), kQlNoItem);
    EXPECT_TRUE(logged("Cannot get phone number !"));
    EXPECT_EQ(QL_MCM_SIM_GetICCID(sim_, kQlSimSlot1, iccid, sizeof iccid), kQlNoItem);
    EXPECT_TRUE(logged("Cannot get ICCID"));
}

TEST_F(McmServices, OutputsKeepOnlyTheValidGroups) {
    scenario(R"({"slots": [{"state": "ready"}], "signal": {"gsm": -73, "lte": -100},
        "network": {"radio": 12, "mcc": "310", "mnc": "12"}, "nitz": "24/05/07,09:03:00+04,0",
        "imei": "866123045678901"})");
    ASSERT_EQ(QL_MCM_NW_GetSignalStrength(nw_, &signal_), 0);
    EXPECT_EQ(signal_.gsm_rssi, -73);
    EXPECT_EQ(signal_.lte_rsrp, -100);
    EXPECT_EQ(signal_.gsm_valid + signal_.lte_valid, 2);
    EXPECT_EQ(signal_.wcdma_valid + signal_.tdscdma_valid + signal_.cdma_valid + signal_.hdr_valid,
              0);
    ASSERT_EQ(QL_MCM_NW_GetRegStatus(nw_, &reg_), 0);
    EXPECT_EQ(reg_.short2.valid, 1u);
    EXPECT_STREQ(reg_.short2.mcc, "310");
    EXPECT_EQ(reg_.detail2.valid, 0u);
    ASSERT_EQ(QL_MCM_NW_GetNitzTimeInfo(nw_, &nitz_), 0);
    EXPECT_EQ(std::string(nitz_.nitz_time + 17, 3), "+04");
    ASSERT_EQ(QL_MCM_DM_GetSerialNumbers(dm_, &serials_), 0);
    EXPECT_STREQ(serials_.imei, "866123045678901");
    EXPECT_EQ(serials_.meid_valid, 0);
}

// Forced answers of the library and what each member's rule makes of them.
struct RuleCase {
    uint32_t msgId;
    int ret;
    uint32_t resp;
    uint32_t error;
    int expected;
};

TEST_F(McmServices, ResultFollowsTheMembersRule) {
    const RuleCase cases[] = {
        {0x0B00, 0, 1, 7, 7},  {0x0B00, 5, 0, 0, 5},    {0x0B00, 0, 1, 0, 1},
        {0x0B0C, 0, 1, 0, kQlNoItem}, {0x0B0C, 0, 0, 7, 7},
        {0x0507, 0, 1, 7, 0},  {0x0507, 6, 1, 7, 6},    {0x0509, 0, 1, 7, 0},
        {0x0502, 5, 1, 7, 5},  {0x0502, 0, 1, 7, 7},    {0x0502, 0, 2, 0, 2},
        {0x02A0, 0, 1, 7, -19}, {0x02A1, 0, 1, 0, -19},
    };
    for (const RuleCase& c : cases) {
        char forced[160];
        std::snprintf(forced, sizeof forced,
                      R"({"slots": [{"state": "ready", "imsi": "1"}],
                          "failures": {"0x%04X": {"ret": %d, "resp": %u, "error": %u}}})",
                      c.msgId, c.ret, c.resp, c.error);
        scenario(forced);
        EXPECT_EQ(call(c.msgId), c.expected) << std::hex << c.msgId << std::dec << " ret " << c.ret
                                             << " resp " << c.resp << " error " << c.error;
    }
    EXPECT_TRUE(logged("Failed to get card status, ret_val=0, resp_code= 0, error_code=7"));
    EXPECT_TRUE(logged("Failed to get device sn, rc=0, error=7"));
    EXPECT_TRUE(logged("Failed to get sim subscriber, ret_val=0, resp_code= 1, error_code=7"));
}

}  // namespace
