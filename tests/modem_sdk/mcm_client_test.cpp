// The shared MCM client: registry, service start, readiness waits.
#include <atomic>
#include <future>
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
    // Releasing SIM keeps the handle for NW.
    EXPECT_EQ(QL_MCM_SIM_Client_Deinit(sim), 0);
    EXPECT_TRUE(logged("mcm client is still alive, reference count : 1"));
    QlNwSignalStrength signal{};
    EXPECT_EQ(QL_MCM_NW_GetSignalStrength(nw, &signal), 0);
}

TEST_F(McmClient, RunningRilServiceIsNotStartedAgain) {
    root_.write("/sim/ril_running", "");
    root_.write("/tmp/mcm_service_ready.flag", "");
    uint32_t dm = 0;
    ASSERT_EQ(QL_MCM_DM_Client_Init(&dm), 0);
    EXPECT_EQ(count_of(commands(), kStartScript), 0u);
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

}  // namespace
