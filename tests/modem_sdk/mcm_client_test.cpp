// The shared MCM client: registry, service start, readiness waits, routing.
#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include "tests/modem_sdk/modem_fixture.h"

namespace {

using McmClient = ModemTest;

constexpr const char* kStartScript = "/etc/init.d/start_mcm_ril_srv_le start";

TEST_F(McmClient, FirstInitStartsTheRilServiceOnceAndASecondOnlySaysSo) {
    uint32_t nw = 0, again = 0, sim = 0;
    ASSERT_EQ(QL_MCM_NW_Client_Init(&nw), 0);
    EXPECT_NE(nw, 0u);
    EXPECT_EQ(QL_MCM_NW_Client_Init(&again), 0);
    EXPECT_EQ(again, 0u) << "an initialised type leaves the out-parameter alone";
    ASSERT_EQ(QL_MCM_SIM_Client_Init(&sim), 0);
    EXPECT_EQ(sim, nw) << "one shared handle";
    EXPECT_EQ(count_of(commands(), "pidof -s mcm_ril_service"), 1u);
    EXPECT_EQ(count_of(commands(), kStartScript), 1u);
    EXPECT_EQ(count_of(syslog(), "Client 5 is already inited"), 1u);
    EXPECT_EQ(count_of(syslog(), "Init mcm client succeed"), 1u);
    // Releasing SIM keeps the handle for NW; releasing NW too ends it.
    EXPECT_EQ(QL_MCM_SIM_Client_Deinit(sim), 0);
    EXPECT_TRUE(logged("mcm client is still alive, reference count : 1"));
    QlNwSignalStrength signal{};
    EXPECT_EQ(QL_MCM_NW_GetSignalStrength(nw, &signal), 0);
    EXPECT_EQ(QL_MCM_NW_Client_Deinit(nw), 0);
    EXPECT_TRUE(logged("is released"));
    EXPECT_NE(QL_MCM_NW_GetSignalStrength(nw, &signal), 0);
}

TEST_F(McmClient, RunningRilServiceIsNotStartedAgain) {
    root_.write("/sim/ril_running", "");
    root_.write("/tmp/mcm_service_ready.flag", "");
    uint32_t dm = 0;
    ASSERT_EQ(QL_MCM_DM_Client_Init(&dm), 0);
    EXPECT_EQ(count_of(commands(), kStartScript), 0u);
}

TEST_F(McmClient, ClientTypesOutsideTheRegistryAreRefused) {
    uint32_t handle = 0;
    for (int type : {-1, 17, 255}) {
        EXPECT_EQ(QL_MCM_Client_Init(&handle, type, nullptr, nullptr), kQlBadArgument) << type;
        EXPECT_EQ(QL_MCM_Client_Deinit(1, type), kQlBadArgument) << type;
    }
    EXPECT_TRUE(logged("Invalid client_type -1"));
    EXPECT_TRUE(logged("Invalid mcm client type -1"));
    EXPECT_EQ(QL_MCM_DM_Client_Deinit(0), 0);
    EXPECT_TRUE(logged("mcm client type 2 is not valid\n"));
}

TEST_F(McmClient, MissingFlagsTimeOutAfterTenSeconds) {
    withhold(ModemFault::NoSimFlag);
    uint32_t sim = 0, nw = 0;
    EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim), kQlNotReady);
    EXPECT_EQ(clock_.slept_us(), 10'000'000u);
    EXPECT_TRUE(logged("Succeed to require servie 00000008"));
    EXPECT_TRUE(logged("mcm service 8 is not ready"));
    EXPECT_EQ(QL_MCM_NW_Client_Init(&nw), 0) << "types without a required service still come up";

    mcm_client_reset();
    withhold(ModemFault::NoServiceFlag);
    EXPECT_EQ(QL_MCM_NW_Client_Init(&nw), kQlNotReady);
    EXPECT_EQ(clock_.slept_us(), 20'000'000u);
    EXPECT_TRUE(logged("Failed to bootup mcm service, waiting timeout"));
}

TEST_F(McmClient, FailuresOfTheLibraryAndTheRequiredService) {
    scenario(R"({"failures": {"mcm_init": 5, "0x0800": {"resp": 1, "error": 4}}})");
    uint32_t sim = 0;
    EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim), 5);
    EXPECT_TRUE(logged("Failed to mcm_client_init, ret=5"));
    scenario(R"({"failures": {"0x0800": {"resp": 1, "error": 4}}})");
    EXPECT_EQ(QL_MCM_SIM_Client_Init(&sim), kQlNotReady) << "the library init is tried again";
    EXPECT_TRUE(logged("Failed to require service 00000008, ret_val=0, result=1 error_code=4"));
    EXPECT_TRUE(logged("Failed to requre service 00000008, ret=9"));
    EXPECT_EQ(ql_mcm_required_service_updown(1, 0, 8), kQlNotRequired);
    EXPECT_TRUE(logged("Donot support not requre service"));
    EXPECT_EQ(ql_mcm_required_service_updown(1, 2, 8), kQlNoItem);
}

TEST_F(McmClient, EventRegistrationsNeedTheClient) {
    EXPECT_EQ(ql_mcm_sim_reg_events(), kQlNotReady);
    EXPECT_EQ(QL_MCM_SIM_AddRxIndMsgHandler(nullptr, nullptr), kQlNotReady);
    EXPECT_TRUE(logged("Error, mcm client is not inited"));
    uint32_t nw = 0;
    ASSERT_EQ(QL_MCM_NW_Client_Init(&nw), 0);
    EXPECT_EQ(ql_mcm_sms_reg_events(), 0);
}

TEST_F(McmClient, ConcurrentFirstInitsStartOneClient) {
    int results[2] = {-1, -1};
    uint32_t handles[2] = {0, 0};
    std::thread first([&] { results[0] = QL_MCM_NW_Client_Init(&handles[0]); });
    results[1] = QL_MCM_NW_Client_Init(&handles[1]);
    first.join();
    EXPECT_EQ(results[0] + results[1], 0);
    EXPECT_EQ(count_of(commands(), kStartScript), 1u);
    EXPECT_EQ(count_of(syslog(), "Client 5 is already inited"), 1u);
}

TEST_F(McmClient, InitialisedTypeReturnsWhileAnotherWaitsForItsService) {
    uint32_t nw = 0, sim = 0;
    ASSERT_EQ(QL_MCM_NW_Client_Init(&nw), 0);
    withhold(ModemFault::NoSimFlag);
    // The SIM client's readiness wait holds in its first sleep until released.
    std::promise<void> asleep, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> first{true};
    clock_.on_sleep = [&](uint64_t) {
        if (first.exchange(false)) asleep.set_value();
        released.wait();
    };
    std::thread waiting([&] { QL_MCM_SIM_Client_Init(&sim); });
    asleep.get_future().wait();
    auto again = std::async(std::launch::async, [] {
        uint32_t handle = 0;
        return QL_MCM_NW_Client_Init(&handle);
    });
    const bool atOnce = again.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    release.set_value();
    waiting.join();
    clock_.on_sleep = nullptr;
    EXPECT_TRUE(atOnce) << "waited behind the SIM client's readiness wait";
    EXPECT_EQ(again.get(), 0);
}

// ---- Callback routing ----------------------------------------------------

std::mutex g_seenMutex;
std::vector<std::pair<int, uint32_t>> g_seen;  // (receiver, message id)

template <int Receiver>
void record_ind(uint32_t, uint32_t msgId, void*, uint32_t) {
    std::lock_guard<std::mutex> lock(g_seenMutex);
    g_seen.emplace_back(Receiver, msgId);
}
template <int Receiver>
void record_async(uint32_t, uint32_t msgId, void*, uint32_t, uint32_t) {
    record_ind<Receiver>(0, msgId, nullptr, 0);
}

TEST_F(McmClient, IndicationsGoToTheirTypeAndSomeAlsoToTheAtProcessor) {
    uint32_t handle = 0;
    for (int type : {kMcmClientData, kMcmClientDm, kMcmClientNw, kMcmClientSms, kMcmClientSim,
                     kMcmClientVoice})
        ASSERT_EQ(QL_MCM_Client_Init(&handle, type, record_ind<0>, nullptr), 0) << type;
    ASSERT_EQ(QL_MCM_Client_Init(&handle, kMcmClientAtcop, record_ind<6>, nullptr), 0);
    // (message id, receivers): a second receiver is always the AT processor.
    const std::pair<uint32_t, size_t> cases[] = {
        {0x010C, 1}, {0x0204, 1}, {0x050B, 1}, {0x050F, 1}, {0x0707, 2}, {0x070A, 1}, {0x0B10, 2},
        {0x0B11, 1}, {0x1017, 2}, {0x101C, 1}, {0x0427, 0}, {0x0310, 0}, {0x9999, 0}};
    for (const auto& [msgId, receivers] : cases) {
        g_seen.clear();
        ql_mcm_ind_cb(handle, msgId, nullptr, 0);
        EXPECT_EQ(g_seen.size(), receivers) << std::hex << msgId;
        const auto atcop = std::count(g_seen.begin(), g_seen.end(), std::make_pair(6, msgId));
        EXPECT_EQ(atcop, receivers == 2 ? 1 : 0) << std::hex << msgId;
    }
    EXPECT_TRUE(logged("uhandled MSG : 0x9999"));
    EXPECT_FALSE(logged("uhandled MSG : 0x427"));
}

TEST_F(McmClient, AsynchronousResponsesGoByTheIdsSecondByte) {
    uint32_t handle = 0;
    ASSERT_EQ(QL_MCM_Client_Init(&handle, kMcmClientNw, nullptr, record_async<5>), 0);
    g_seen.clear();
    ql_mcm_async_cb(handle, 0x0507, nullptr, 0, 1);
    ql_mcm_async_cb(handle, 0x0B07, nullptr, 0, 1);  // SIM: not initialised
    ql_mcm_async_cb(handle, 0x4305, nullptr, 0, 1);  // type 0x43: none
    EXPECT_EQ(g_seen, (std::vector<std::pair<int, uint32_t>>{{5, 0x0507u}}));
}

}  // namespace
