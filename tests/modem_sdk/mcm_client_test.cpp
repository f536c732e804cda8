// The shared MCM client: registry, service start, readiness waits, routing.
#include <atomic>
#include <thread>

#include "modem_fixture.h"

namespace {

using McmClient = ModemTest;

constexpr const char* kStartScript = "/etc/init.d/start_mcm_ril_srv_le start";

TEST_F(McmClient, FirstInitStartsTheRilServiceOnceAndASecondOnlySaysSo) {
    uint32_t nw = 0;
    ASSERT_EQ(QL_MCM_NW_Client_Init(&nw), 0);
    EXPECT_NE(nw, 0u);
    uint32_t again = 0;
    EXPECT_EQ(QL_MCM_NW_Client_Init(&again), 0);
    EXPECT_EQ(again, 0u) << "an initialised type leaves the out-parameter alone";
    EXPECT_EQ(count(commands(), "pidof -s mcm_ril_service"), 1u);
    EXPECT_EQ(count(commands(), kStartScript), 1u);
    EXPECT_EQ(count(syslog(), "Client 5 is already inited"), 1u);
    EXPECT_EQ(count(syslog(), "Init mcm client succeed"), 1u);
}

TEST_F(McmClient, RunningRilServiceIsNotStartedAgain) {
    root_.write("/sim/ril_running", "");
    root_.write("/tmp/mcm_service_ready.flag", "");
    uint32_t dm = 0;
    ASSERT_EQ(QL_MCM_DM_Client_Init(&dm), 0);
    EXPECT_EQ(count(commands(), kStartScript), 0u);
}

TEST_F(McmClient, DeinitOfSimWhileNwIsInUseKeepsTheHandle) {
    uint32_t nw = 0, sim = 0;
    ASSERT_EQ(QL_MCM_NW_Client_Init(&nw), 0);
    ASSERT_EQ(QL_MCM_SIM_Client_Init(&sim), 0);
    EXPECT_EQ(sim, nw) << "one shared handle";
    EXPECT_EQ(QL_MCM_SIM_Client_Deinit(sim), 0);
    EXPECT_NE(syslog().find("mcm client is still alive, reference count : 1"), std::string::npos);
    QlNwSignalStrength signal{};
    EXPECT_EQ(QL_MCM_NW_GetSignalStrength(nw, &signal), 0) << "the NW client still works";
    EXPECT_EQ(QL_MCM_NW_Client_Deinit(nw), 0);
    EXPECT_NE(syslog().find("is released"), std::string::npos);
    EXPECT_NE(QL_MCM_NW_GetSignalStrength(nw, &signal), 0) << "released for good";
}

TEST_F(McmClient, DeinitOfAnUnusedTypeAndWithoutAClient) {
    EXPECT_EQ(QL_MCM_DM_Client_Deinit(0), 0);
    EXPECT_NE(syslog().find("mcm client type 2 is not valid\n"), std::string::npos);
    EXPECT_NE(syslog().find("mcm client is not valid"), std::string::npos);
}

TEST_F(McmClient, ClientTypesOutsideTheRegistryAreRefused) {
    uint32_t handle = 0;
    for (int type : {-1, -100, 17, 255}) {
        EXPECT_EQ(QL_MCM_Client_Init(&handle, type, nullptr, nullptr), kQlBadArgument) << type;
        EXPECT_EQ(QL_MCM_Client_Deinit(1, type), kQlBadArgument) << type;
    }
    EXPECT_NE(syslog().find("Invalid client_type -1"), std::string::npos);
    EXPECT_NE(syslog().find("Invalid mcm client type -1"), std::string::npos);
    EXPECT_EQ(count(commands(), "pidof"), 0u);
}

TEST_F(McmClient, MissingServiceFlagTimesOutAfterTenSeconds) {
    withhold(ModemFault::NoServiceFlag);
    uint32_t nw = 0;
    EXPECT_EQ(QL_MCM_NW_Client_Init(&nw), kQlNotReady);
    EXPECT_EQ(clock_.slept_us(), 10'000'000u);
    EXPECT_NE(syslog().find("Failed to bootup mcm service, waiting timeout"), std::string::npos);
    EXPECT_EQ(nw, 0u);
}

TEST_F(McmClient, WithheldRilStartLeavesTheFlagsMissing) {
    for (ModemFault fault : {ModemFault::NoStartScript, ModemFault::RilSeemsRunning}) {
        TestRoot root;
        ModemBoard board;
        board.lay_out(root.root());
        ModemEnvironment environment(root.root());
        modem_board_withhold(root.root(), fault);
        uint32_t dm = 0;
        EXPECT_EQ(QL_MCM_DM_Client_Init(&dm), kQlNotReady);
    }
}

TEST_F(McmClient, RequiredServiceFlagIsWaitedFor) {
    withhold(ModemFault::NoSimFlag);
    uint32_t sim = 0;
    EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim), kQlNotReady);
    EXPECT_NE(syslog().find(" mcm_client_init start up required service!"), std::string::npos);
    EXPECT_NE(syslog().find("Succeed to require servie 00000008"), std::string::npos);
    EXPECT_NE(syslog().find("mcm service 8 is not ready"), std::string::npos);
    uint32_t nw = 0;
    EXPECT_EQ(QL_MCM_NW_Client_Init(&nw), 0) << "types without a required service still come up";
}

TEST_F(McmClient, RefusedRequiredServiceIsReturned) {
    scenario(R"({"failures": {"0x0800": {"resp": 1, "error": 4}}})");
    uint32_t sim = 0;
    EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim), kQlNotReady);
    EXPECT_NE(syslog().find("Failed to require service 00000008, ret_val=0, result=1 error_code=4"),
              std::string::npos);
    EXPECT_NE(syslog().find("Failed to requre service 00000008, ret=9"), std::string::npos);
}

TEST_F(McmClient, RequiredServiceRequestArguments) {
    EXPECT_EQ(ql_mcm_required_service_updown(1, 0, 8), kQlNotRequired);
    EXPECT_NE(syslog().find("start to not require  service 00000008"), std::string::npos);
    EXPECT_NE(syslog().find("Donot support not requre service"), std::string::npos);
    EXPECT_EQ(ql_mcm_required_service_updown(1, 2, 8), kQlNoItem);
}

TEST_F(McmClient, FailedLibraryInitLeavesNoHandleAndIsTriedAgain) {
    scenario(R"({"failures": {"mcm_init": 5}})");
    uint32_t dm = 0;
    EXPECT_EQ(QL_MCM_DM_Client_Init(&dm), 5);
    EXPECT_NE(syslog().find("Failed to mcm_client_init, ret=5"), std::string::npos);
    scenario(R"({"imei": "1"})");
    EXPECT_EQ(QL_MCM_DM_Client_Init(&dm), 0);
    EXPECT_NE(dm, 0u);
}

TEST_F(McmClient, EventRegistrationsNeedTheClient) {
    EXPECT_EQ(ql_mcm_sim_reg_events(), kQlNotReady);
    EXPECT_EQ(ql_mcm_sms_reg_events(), kQlNotReady);
    EXPECT_EQ(ql_mcm_voice_register_indication(), kQlNotReady);
    EXPECT_EQ(count(syslog(), "mcm client is not inited"), 3u);
    EXPECT_EQ(QL_MCM_SIM_AddRxIndMsgHandler(nullptr, nullptr), kQlNotReady);
    EXPECT_NE(syslog().find("Error, mcm client is not inited"), std::string::npos);
    uint32_t nw = 0;
    ASSERT_EQ(QL_MCM_NW_Client_Init(&nw), 0);
    EXPECT_EQ(ql_mcm_sms_reg_events(), 0);
    EXPECT_EQ(ql_mcm_voice_register_indication(), 0);
}

// Two threads initialising the same type at once start the service once and
// both see success.
TEST_F(McmClient, ConcurrentFirstInitsStartOneClient) {
    std::atomic<int> results[2] = {{-1}, {-1}};
    uint32_t handles[2] = {0, 0};
    std::thread first([&] { results[0] = QL_MCM_NW_Client_Init(&handles[0]); });
    std::thread second([&] { results[1] = QL_MCM_NW_Client_Init(&handles[1]); });
    first.join();
    second.join();
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(count(commands(), kStartScript), 1u);
    EXPECT_EQ(count(syslog(), "Init mcm client succeed"), 1u);
    EXPECT_EQ(count(syslog(), "Client 5 is already inited"), 1u);
}

// ---- Callback routing ----------------------------------------------------

struct Seen {
    std::mutex mutex;
    std::vector<std::pair<int, uint32_t>> calls;  // (receiver, message id)
    void add(int receiver, uint32_t msgId) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.emplace_back(receiver, msgId);
    }
};
Seen g_seen;

template <int Receiver>
void record_ind(uint32_t, uint32_t msgId, void*, uint32_t) {
    g_seen.add(Receiver, msgId);
}
template <int Receiver>
void record_async(uint32_t, uint32_t msgId, void*, uint32_t, uint32_t) {
    g_seen.add(Receiver, msgId);
}

TEST_F(McmClient, IndicationsGoToTheirTypeAndSomeAlsoToTheAtProcessor) {
    uint32_t handle = 0;
    for (int type : {kMcmClientData, kMcmClientDm, kMcmClientNw, kMcmClientSms, kMcmClientSim,
                     kMcmClientVoice})
        ASSERT_EQ(QL_MCM_Client_Init(&handle, type, record_ind<0>, nullptr), 0) << type;
    ASSERT_EQ(QL_MCM_Client_Init(&handle, kMcmClientAtcop, record_ind<6>, nullptr), 0);
    struct Case {
        uint32_t msgId;
        size_t calls;
        bool atcop;
    };
    const Case cases[] = {{0x010C, 1, false}, {0x0204, 1, false}, {0x050B, 1, false},
                          {0x050F, 1, false}, {0x0707, 2, true},  {0x070A, 1, false},
                          {0x0B10, 2, true},  {0x0B11, 1, false}, {0x1017, 2, true},
                          {0x101C, 1, false}, {0x0427, 0, false}, {0x0310, 0, false},
                          {0x9999, 0, false}};
    for (const Case& c : cases) {
        g_seen.calls.clear();
        ql_mcm_ind_cb(handle, c.msgId, nullptr, 0);
        EXPECT_EQ(g_seen.calls.size(), c.calls) << std::hex << c.msgId;
        const bool toAtcop = std::count(g_seen.calls.begin(), g_seen.calls.end(),
                                        std::make_pair(6, c.msgId)) == 1;
        EXPECT_EQ(toAtcop, c.atcop) << std::hex << c.msgId;
    }
    EXPECT_NE(syslog().find("uhandled MSG : 0x9999"), std::string::npos);
    EXPECT_EQ(syslog().find("uhandled MSG : 0x427"), std::string::npos);
}

TEST_F(McmClient, AsynchronousResponsesGoByTheIdsSecondByte) {
    uint32_t handle = 0;
    ASSERT_EQ(QL_MCM_Client_Init(&handle, kMcmClientNw, nullptr, record_async<5>), 0);
    g_seen.calls.clear();
    ql_mcm_async_cb(handle, 0x0507, nullptr, 0, 1);
    ql_mcm_async_cb(handle, 0x0B07, nullptr, 0, 1);  // SIM: not initialised
    ql_mcm_async_cb(handle, 0x4305, nullptr, 0, 1);  // type 0x43: none
    ASSERT_EQ(g_seen.calls.size(), 1u);
    EXPECT_EQ(g_seen.calls[0], std::make_pair(5, 0x0507u));
    EXPECT_NE(syslog().find("Recv async cb, h_mcm="), std::string::npos);
}

uint32_t g_radioMode = 0;
void on_radio_mode(uint32_t mode) { g_radioMode = mode; }

TEST_F(McmClient, RadioModeIndicationReachesTheDmHandler) {
    uint32_t dm = 0;
    ASSERT_EQ(QL_MCM_DM_Client_Init(&dm), 0);
    QL_MCM_DM_AddRadioModeHandler(on_radio_mode);
    uint32_t mode = 2;
    ql_mcm_ind_cb(dm, 0x0204, &mode, sizeof mode);
    EXPECT_EQ(g_radioMode, 2u);
    EXPECT_NE(syslog().find("Radio mode changed to 2"), std::string::npos);
}

Signal g_cardChanged;
void* g_userData = nullptr;
void on_sim_indication(uint32_t, uint32_t msgId, void*, uint32_t, void* userData) {
    if (msgId == 0x0B10) {
        g_userData = userData;
        g_cardChanged.raise();
    }
}

TEST_F(McmClient, PulledCardIsReportedFromTheLibrarysThread) {
    g_cardChanged.reset();
    uint32_t sim = 0;
    ASSERT_EQ(QL_MCM_SIM_Client_Init(&sim), 0);
    int marker = 0;
    ASSERT_EQ(QL_MCM_SIM_AddRxIndMsgHandler(on_sim_indication, &marker), 0);
    scenario(R"({"slots": [{"state": "absent"}]})");
    ASSERT_TRUE(g_cardChanged.wait_for()) << root_.read("/sim/modem.log") << syslog();
    EXPECT_EQ(g_userData, &marker);
    EXPECT_NE(syslog().find("Recv ind, h_sim="), std::string::npos);
}

}  // namespace
