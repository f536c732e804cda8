// The management client: precondition, callback list, events, APN codes.
#include <ql_mgmt_client.h>

#include <cstring>
#include <vector>

#include "mgmt_wire.h"
#include "modem_fixture.h"

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

struct LockCase {
    const char* content;
    int expected;
};

TEST_F(Mgmt, PreconditionWantsSuccessAtTheStartOfTheLockFile) {
    const LockCase cases[] = {{"success\n", 0}, {"success, and more", 0}, {"successful", 0},
                              {"succes", -1},   {"", -1},               {" success", -1}};
    for (const LockCase& c : cases) {
        modem_board_set_lock(root_.root(), c.content);
        EXPECT_EQ(QL_Data_Call_Init_Precondition(), c.expected) << '"' << c.content << '"';
    }
    EXPECT_NE(syslog().find("the ql_manager_server init success"), std::string::npos);
    withhold(ModemFault::NoManagerLock);
    EXPECT_EQ(QL_Data_Call_Init_Precondition(), -1);
    EXPECT_NE(syslog().find("open /tmp/.ql_manager_server.lock failure: No such file or directory"),
              std::string::npos);
}

TEST_F(Mgmt, UnopenableHandleFailsEveryOperation) {
    withhold(ModemFault::NoManagerLock);
    uint8_t record[kMgmtRecordSize]{};
    EXPECT_EQ(mgmt_set(kMgmtApnDelete, record, sizeof record), 2);
    EXPECT_EQ(mgmt_get(kMgmtApnList, record, sizeof record), 2);
    EXPECT_EQ(QL_APN_Del(3), -1);
    EXPECT_NE(syslog().find("Failed to del data call apn"), std::string::npos);
    QlApnList list{};
    EXPECT_EQ(QL_APN_Get_Lists(&list), 0) << "the zero count";
}

// Data-call events seen by the test's callbacks.
Signal g_events;
std::mutex g_eventMutex;
std::vector<std::pair<int, QlDataCallEvent>> g_received;

template <int Which>
void on_event(const QlDataCallEvent* event) {
    {
        std::lock_guard<std::mutex> lock(g_eventMutex);
        g_received.emplace_back(Which, *event);
    }
    g_events.raise();
}

class MgmtEvents : public Mgmt {
protected:
    MgmtEvents() {
        g_received.clear();
        g_events.reset();
        EXPECT_EQ(QL_Data_Call_Init(on_event<1>), 0);
    }
    std::vector<std::pair<int, QlDataCallEvent>> received() {
        std::lock_guard<std::mutex> lock(g_eventMutex);
        return g_received;
    }
    void start_call() {
        QlApnProfile apn{};
        apn.profile_index = 3;
        std::strcpy(apn.settings.apn_name, "jtm2m");
        ASSERT_EQ(QL_APN_Set(&apn), 0);
        QlDataCallStart start{};
        start.profile_index = 3;
        start.option = 1;
        int error = 0;
        ASSERT_EQ(QL_Data_Call_Start(&start, &error), 0);
    }
};

TEST_F(MgmtEvents, ConnectedEventReachesTheCallbackWithItsFields) {
    scenario(R"({"slots": [{"state": "ready"}], "data_call": {"result": "connect", "delay": 0}})");
    start_call();
    ASSERT_TRUE(g_events.wait_for());
    const auto events = received();
    ASSERT_EQ(events.size(), 1u);
    const QlDataCallEvent& event = events[0].second;
    EXPECT_EQ(event.profile_index, 3);
    EXPECT_EQ(event.state, 1u);
    EXPECT_STREQ(event.profile_name, "jtm2m");
    EXPECT_EQ(event.first_block[0], 10);
    EXPECT_EQ(event.has_second_block, 0u);
    QlDataCallInfo info{};
    ASSERT_EQ(QL_Data_Call_Info_Get(3, 0, &info, nullptr), 0);
    EXPECT_EQ(info.state, 1u);
}

TEST_F(MgmtEvents, DroppedAndFailedCallsCarryTheirReason) {
    scenario(R"({"slots": [{"state": "ready"}], "data_call": {"delay": 0, "reason": 16}})");
    start_call();
    ASSERT_TRUE(g_events.wait_for(1));
    scenario(R"({"slots": [{"state": "ready"}], "data_call": {"delay": 0, "reason": 16, "drop": true}})");
    ASSERT_TRUE(g_events.wait_for(2));
    auto events = received();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].second.state, 0u);
    EXPECT_EQ(events[1].second.reason, 16u);
    EXPECT_EQ(events[1].second.profile_name[0], '\0') << "names only for connected calls";

    scenario(R"({"slots": [{"state": "ready"}], "data_call": {"result": "fail", "delay": 0, "reason": 33}})");
    start_call();
    ASSERT_TRUE(g_events.wait_for(3));
    events = received();
    EXPECT_EQ(events.back().second.state, 0u);
    EXPECT_EQ(events.back().second.reason, 33u);
}

TEST_F(MgmtEvents, SecondInitKeepsTheFirstCallbackAndOneListEntry) {
    EXPECT_EQ(QL_Data_Call_Init(on_event<2>), 0);
    scenario(R"({"slots": [{"state": "ready"}], "data_call": {"delay": 0}})");
    start_call();
    ASSERT_TRUE(g_events.wait_for());
    QL_Data_Call_Stop(3, 0);
    ASSERT_TRUE(g_events.wait_for(2));
    const auto events = received();
    ASSERT_EQ(events.size(), 2u) << "each event once";
    for (const auto& event : events) EXPECT_EQ(event.first, 1);
}

TEST_F(MgmtEvents, OnlyWholeDataCallEventsReachTheCallback) {
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
    EXPECT_TRUE(received().empty());
    g_dispatcher(kMgmtDataCallStart, &event, sizeof event);
    const auto events = received();
    ASSERT_EQ(events.size(), 1u);
    const QlDataCallEvent& got = events[0].second;
    EXPECT_EQ(std::string(got.profile_name, sizeof got.profile_name), "abcdefghijklmnop");
    EXPECT_EQ(got.has_second_block, 1u);
    EXPECT_EQ(got.reason, 5u);
    uint32_t last = 0;
    std::memcpy(&last, got.second_block + 44, sizeof last);
    EXPECT_EQ(last, 0x12345678u);
}

TEST_F(Mgmt, ProfileZeroIsMarkedInTheFirstByte) {
    QlApnProfile apn{};
    apn.profile_index = 0;
    std::strcpy(apn.settings.apn_name, "zero");
    ASSERT_EQ(QL_APN_Set(&apn), 0);
    ASSERT_EQ(g_lastSet.size(), kMgmtRecordSize);
    EXPECT_EQ(g_lastSet[0], 1);
    EXPECT_EQ(g_lastSet[1], 0);
    apn.profile_index = 7;
    ASSERT_EQ(QL_APN_Set(&apn), 0);
    EXPECT_EQ(g_lastSet[0], 0);
    EXPECT_EQ(g_lastSet[1], 7);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&g_lastSet[4])), "zero");
}

struct CodeCase {
    uint32_t autoProto;
    uint8_t sent;
};

TEST_F(Mgmt, AuthenticationCodesGoOutMappedAndReadBack) {
    const CodeCase cases[] = {{0, 255}, {1, 0}, {2, 1}, {3, 2}, {4, 3}};
    for (const CodeCase& c : cases) {
        QlApnProfile apn{};
        apn.profile_index = 3;
        apn.settings.pdp_type = 2;
        apn.settings.auto_proto = c.autoProto;
        ASSERT_EQ(QL_APN_Set(&apn), 0);
        EXPECT_EQ(g_lastSet[2], 2);
        EXPECT_EQ(g_lastSet[3], c.sent);
        QlApnProfile back{};
        ASSERT_EQ(QL_APN_Get(3, &back), 0);
        EXPECT_EQ(back.settings.auto_proto, c.autoProto);
        EXPECT_EQ(back.settings.pdp_type, 2u);
    }
}

TEST_F(Mgmt, BadCodesAndIndicesAreRefused) {
    QlApnProfile apn{};
    apn.profile_index = 3;
    apn.settings.pdp_type = 4;
    EXPECT_EQ(QL_APN_Set(&apn), -1);
    EXPECT_NE(syslog().find("Invalid pdp_type : 4"), std::string::npos);
    apn.settings.pdp_type = 0;
    apn.settings.auto_proto = 5;
    EXPECT_EQ(QL_APN_Set(&apn), -1);
    EXPECT_NE(syslog().find("Invalid auto_proto : 5"), std::string::npos);
    uint8_t index = 0;
    EXPECT_EQ(QL_APN_Add(&apn.settings, &index), -1);
    apn.profile_index = 25;
    apn.settings.auto_proto = 0;
    EXPECT_EQ(QL_APN_Set(&apn), -1);
    const size_t before = count(syslog(), "Invalid param");
    EXPECT_EQ(QL_APN_Del(0), -1);
    EXPECT_EQ(QL_APN_Del(25), -1);
    EXPECT_EQ(count(syslog(), "Invalid param"), before + 2);
    EXPECT_EQ(QL_Data_Call_Stop(25, 0), -1);
    EXPECT_EQ(QL_Data_Call_Stop(1, 3), -1);
    QlDataCallStart start{};
    start.profile_index = 25;
    int error = 0;
    EXPECT_EQ(QL_Data_Call_Start(&start, &error), -1);
    EXPECT_EQ(error, 1);
    EXPECT_EQ(QL_Data_Call_Start(nullptr, &error), -1);
}

TEST_F(Mgmt, ProfilesAddListAndDefault) {
    QlApnSettings settings{};
    std::strcpy(settings.apn_name, "first");
    uint8_t index = 0;
    ASSERT_EQ(QL_APN_Add(&settings, &index), 0);
    EXPECT_EQ(index, 1);
    std::strcpy(settings.apn_name, "second");
    ASSERT_EQ(QL_APN_Add(&settings, &index), 0);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(QL_APN_Del(1), 0);
    QlApnList list{};
    ASSERT_EQ(QL_APN_Get_Lists(&list), 1);
    EXPECT_EQ(list.profiles[0].profile_index, 2);
    EXPECT_STREQ(list.profiles[0].settings.apn_name, "second");
    const QlDefaultProfile profile{3};
    ASSERT_EQ(QL_Data_Call_Set_Default_Profile(&profile), 0);
    EXPECT_EQ(g_lastSet[8], 2);
    uint8_t current = 0;
    ASSERT_EQ(QL_Data_Call_Get_Default_Profile(&current), 0);
    EXPECT_EQ(current, 3);
}

TEST_F(Mgmt, LongTextsAreCutToTheirFields) {
    QlApnProfile apn{};
    apn.profile_index = 4;
    std::memset(apn.settings.apn_name, 'a', sizeof apn.settings.apn_name);
    std::memset(apn.settings.user_name, 'u', sizeof apn.settings.user_name);
    ASSERT_EQ(QL_APN_Set(&apn), 0);
    EXPECT_EQ(g_lastSet[4 + 149], 'a');
    EXPECT_EQ(g_lastSet[4 + 150], 0) << "150 characters and the terminator";
    EXPECT_EQ(g_lastSet[155 + 126], 'u');
    EXPECT_EQ(g_lastSet[155 + 127], 0);
    QlApnProfile back{};
    ASSERT_EQ(QL_APN_Get(4, &back), 0);
    EXPECT_EQ(strnlen(back.settings.apn_name, sizeof back.settings.apn_name), 149u);
    EXPECT_EQ(strnlen(back.settings.user_name, sizeof back.settings.user_name), 126u);
}

}  // namespace
