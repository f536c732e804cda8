// The management client: precondition, callback list, events, APN codes.
#include <ql_mgmt_client.h>

#include <cstring>
#include <vector>

#include "modem_sdk/mgmt_wire.h"
#include "tests/modem_sdk/modem_fixture.h"

// What the layer hands the library, seen through the linker's wrapping.
namespace {
std::vector<uint8_t> g_lastSet;
ql_mgmt_client_event_cb g_dispatcher = nullptr;
}  // namespace

extern "C" {
int __real_ql_mgmt_client_open(uint32_t* handle, ql_mgmt_client_event_cb dispatcher);
int __real_ql_mgmt_client_set(uint32_t handle, uint32_t msg_id, void* record, uint32_t length);

int __wrap_ql_mgmt_client_open(uint32_t* handle, ql_mgmt_client_event_cb dispatcher) {
    g_dispatcher = dispatcher;
    return __real_ql_mgmt_client_open(handle, dispatcher);
}

int __wrap_ql_mgmt_client_set(uint32_t handle, uint32_t msg_id, void* record, uint32_t length) {
    const auto* bytes = static_cast<const uint8_t*>(record);
    g_lastSet.assign(bytes, bytes + length);
    return __real_ql_mgmt_client_set(handle, msg_id, record, length);
}
}

namespace {

using Mgmt = ModemTest;

TEST_F(Mgmt, PreconditionWantsSuccessAtTheStartOfTheLockFile) {
    const std::pair<const char*, int> cases[] = {
        {"success\n", 0}, {"successful", 0}, {"succes", -1}, {"", -1}, {" success", -1}};
    for (const auto& [content, expected] : cases) {
        modem_board_set_lock(root_.root(), content);
        EXPECT_EQ(QL_Data_Call_Init_Precondition(), expected) << '"' << content << '"';
    }
    EXPECT_TRUE(logged("the ql_manager_server init success"));
    withhold(ModemFault::NoManagerLock);
    EXPECT_EQ(QL_Data_Call_Init_Precondition(), -1);
    EXPECT_TRUE(logged("open /tmp/.ql_manager_server.lock failure: No such file or directory"));
}

TEST_F(Mgmt, UnopenableHandleFailsEveryOperation) {
    withhold(ModemFault::NoManagerLock);
    uint8_t record[kMgmtRecordSize]{};
    EXPECT_EQ(mgmt_set(kMgmtApnDelete, record, sizeof record), 2);
    EXPECT_EQ(mgmt_get(kMgmtApnList, record, sizeof record), 2);
    EXPECT_EQ(QL_APN_Del(3), -1);
    EXPECT_NE(syslog().find("Failed to del data call apn"), std::string::npos);
}

// Data-call events seen by the test's callbacks, fed through the dispatcher
// the layer gave the library.
std::vector<std::pair<int, QlDataCallEvent>> g_received;

template <int Which>
void on_event(const QlDataCallEvent* event) {
    g_received.emplace_back(Which, *event);
}

TEST_F(Mgmt, OnlyWholeDataCallEventsReachTheFirstCallbackOnce) {
    g_received.clear();
    EXPECT_EQ(QL_Data_Call_Init(on_event<1>), 0);
    EXPECT_EQ(QL_Data_Call_Init(on_event<2>), 0);
    uint8_t record[kMgmtRecordSize]{};
    ASSERT_EQ(mgmt_get(kMgmtApnList, record, sizeof record), 0);
    ASSERT_NE(g_dispatcher, nullptr);
    MgmtDataCallEvent event{};
    event.profile_index = 3;
    std::memcpy(event.profile_name, "abcdefghijklmnopqrs", sizeof event.profile_name);
    event.has_second_block = 7;
    event.state = 1;
    event.reason = 5;
    event.second_block[11] = 0x12345678;
    for (uint32_t length : {0u, 95u, 97u, kMgmtRecordSize}) g_dispatcher(kMgmtDataCallStart, &event, length);
    g_dispatcher(kMgmtDataCallStop, &event, sizeof event);
    g_dispatcher(kMgmtDataCallStart, nullptr, sizeof event);
    EXPECT_TRUE(g_received.empty());
    g_dispatcher(kMgmtDataCallStart, &event, sizeof event);
    ASSERT_EQ(g_received.size(), 1u) << "one list entry, the first callback";
    EXPECT_EQ(g_received[0].first, 1);
    const QlDataCallEvent& got = g_received[0].second;
    EXPECT_EQ(got.profile_index, 3);
    EXPECT_EQ(std::string(got.profile_name, sizeof got.profile_name), "abcdefghijklmnop");
    EXPECT_EQ(got.has_second_block, 1u);
    EXPECT_EQ(got.state, 1u);
    EXPECT_EQ(got.reason, 5u);
    uint32_t last = 0;
    std::memcpy(&last, got.second_block + 44, sizeof last);
    EXPECT_EQ(last, 0x12345678u);
    event.state = 0;
    g_dispatcher(kMgmtDataCallStart, &event, sizeof event);
    EXPECT_EQ(g_received.back().second.profile_name[0], '\0') << "names only for connected calls";
    EXPECT_EQ(g_received.back().second.reason, 5u);
}

TEST_F(Mgmt, ApnRequestCarriesIndexCodesAndCutTexts) {
    const std::pair<uint32_t, uint8_t> codes[] = {{0, 255}, {1, 0}, {2, 1}, {3, 2}, {4, 3}};
    for (const auto& [autoProto, sent] : codes) {
        QlApnProfile apn{};
        apn.profile_index = static_cast<uint8_t>(autoProto);  // 0 is marked in byte 0
        apn.settings.pdp_type = 2;
        apn.settings.auto_proto = autoProto;
        std::memset(apn.settings.apn_name, 'a', sizeof apn.settings.apn_name);
        std::memset(apn.settings.user_name, 'u', sizeof apn.settings.user_name);
        ASSERT_EQ(QL_APN_Set(&apn), 0);
        ASSERT_EQ(g_lastSet.size(), kMgmtRecordSize);
        EXPECT_EQ(g_lastSet[0], autoProto == 0 ? 1 : 0);
        EXPECT_EQ(g_lastSet[1], apn.profile_index);
        EXPECT_EQ(g_lastSet[2], 2);
        EXPECT_EQ(g_lastSet[3], sent);
        EXPECT_EQ(g_lastSet[4 + 149], 'a');
        EXPECT_EQ(g_lastSet[4 + 150], 0) << "150 characters and the terminator";
        EXPECT_EQ(g_lastSet[155 + 127], 0);
        QlApnProfile back{};
        ASSERT_EQ(QL_APN_Get(apn.profile_index, &back), 0);
        EXPECT_EQ(back.settings.auto_proto, autoProto);
        EXPECT_EQ(strnlen(back.settings.apn_name, sizeof back.settings.apn_name), 149u);
        EXPECT_EQ(strnlen(back.settings.user_name, sizeof back.settings.user_name), 126u);
    }
}

TEST_F(Mgmt, DefaultProfileRequestCarriesItsIndexAndMode) {
    const QlDefaultProfile profile{3};
    ASSERT_EQ(QL_Data_Call_Set_Default_Profile(&profile), 0);
    ASSERT_EQ(g_lastSet.size(), kMgmtRecordSize);
    EXPECT_EQ(g_lastSet[0], 3);
    EXPECT_EQ(g_lastSet[8], 2) << "the mode of a set";
}

}  // namespace
