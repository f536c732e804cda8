// The cellular manager in process, against the stand-ins of the vendor's
// libraries and the simulated modem, on clocks that advance at once.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <tuple>

#include "cellular/at_exchange.h"
#include "cellular/carrier.h"
#include "cellular/cellular.h"
#include "core/cellular_status.h"
#include "core/clock_helpers.h"
#include "core/daemon_state.h"
#include "tests/modem_sdk/modem_fixture.h"
#include "tests/support/pty_pair.h"
#include "cellular/signal_quality.h"
#include "cellular/sim_slots.h"
#include "tests/support/stand_ins.h"
#include "tests/support/state_reset.h"

namespace {

std::string slot_json(const char* imsi) {
    return imsi ? std::string(R"({"state": "ready", "iccid": "8944500102198304826F", "imsi": ")") + imsi + "\"}"
                : R"({"state": "absent"})";
}

std::string modem_json(const char* imsi0, const char* imsi1, const std::string& extra = "") {
    return R"({"slots": [)" + slot_json(imsi0) + "," + slot_json(imsi1) +
           R"(], "signal": {"lte": -95}, "network": {"radio": 4, "mcc": "310", "mnc": "26"},
              "nitz": "24/05/07,09:03:00+04,0", "data_call": {"result": "refuse"})" + extra + "}";
}

class Cellular : public ModemTest {
protected:
    Cellular() {
        for (const char* line : {"gpio7", "gpio22"})
            root_.write(std::string("/sys/class/gpio/") + line + "/value", "0\n");
        cellular_status_reset();
        sim_slots_reset();
        nw_client_reset();
    }
    ~Cellular() override { sim_client_release(); }
    std::string modem_log() const { return root_.read("/sim/modem.log"); }
    int current() const { return g_cellular.currentSlot.load()->number; }

    StandIns standIns_{root_, {"ntpd"}};
    ScopedTimeZone zone_{"UTC0"};
};

// A code of five or six digits matches the IMSI's start; an IMSI shorter than a code matches none.
TEST(Carrier, AnImsiTakesTheRowOfTheCodeItStartsWith) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"234500012345678", 0}, {"302651000000001", 3}, {"310260000000001", 1}, {"3027", 1}, {"", 1}};
    for (const auto& [imsi, row] : cases) EXPECT_EQ(carrier_index(imsi), row) << imsi;
}

TEST_F(Cellular, SlotChoice) {
    const struct {
        const char *imsi0, *imsi1;
        int result, slot, slot1Presence;
    } cases[] = {
        {"311480000000001", "302720000000001", 0, 0, 2},  // preference 1 in slot 0 ends the scan
        {"234500012345678", "310260000000001", 0, 0, 1},  // equal preferences: slot 0
        {"302720000000001", "310260000000001", 0, 1, 1},  // the smaller preference wins
        {nullptr, "310260000000001", 0, 1, 1},            // only slot 1 ready
        {nullptr, nullptr, -1, 1, 0},                     // no card: the thread gives up
    };
    for (const auto& c : cases) {
        scenario(modem_json(c.imsi0, c.imsi1));
        sim_slots_reset();
        EXPECT_EQ(cellular_sim_setup(), c.result) << c.imsi0;
        EXPECT_EQ(current(), c.slot) << c.imsi0;
        EXPECT_EQ(g_simSlots[1].presence, static_cast<uint32_t>(c.slot1Presence)) << c.imsi0;
        EXPECT_EQ(g_cellular.simMissing, c.result < 0 ? 1 : 0) << c.imsi0;
    }
    EXPECT_NE(root_.log().find("ICCID (slot #0): 8944500102198304826\r\n"), std::string::npos);
    EXPECT_NE(root_.log().find(";cellular;2;Modem initialization error - -1\r\n"), std::string::npos);
}

TEST_F(Cellular, SimRecover) {
    const struct {
        const char* imsi1;
        uint32_t presence1;  // slot 1 before the recovery, slot 0 being current and ready
        int slot;            // current afterwards
        uint32_t presenceAfter;
        const char* line;
    } cases[] = {
        {"310260000000001", 0, 0, 0, nullptr},  // other slot known empty: no switch
        {nullptr, 2, 0, 0, ";sim;1;No sim card on slot: 1\r\n"},
        {"302720000000001", 2, 1, 1, ";cellular;0;IMSI (slot #1): 302720000000001\r\n"},
    };
    for (const auto& c : cases) {
        scenario(modem_json("310260000000001", c.imsi1));
        g_simSlots[0].presence = 1;
        g_simSlots[1].presence = c.presence1;
        sim_select_slot(0, 0);
        g_cellular.modemReady = 1;
        sim_recover();
        EXPECT_EQ(current(), c.slot);
        EXPECT_EQ(g_simSlots[1].presence, c.presenceAfter);
        EXPECT_EQ(g_cellular.modemReady, 0);
        EXPECT_TRUE(c.line == nullptr || root_.log().find(c.line) != std::string::npos) << c.line;
    }
    EXPECT_EQ(count_of(modem_log(), "data call stop: profile 1"), 3u);
    EXPECT_EQ(count_of(root_.log(), "Switch sim card slot: 1"), 2u);
    EXPECT_EQ(count_of(root_.log(), "Switch sim card slot: 0"), 1u);
}

// The AT port's far side on the fake clock: each command is answered "OK" at
// the next sleep. "AT+CFUN=0" takes the card away; it is ready again a second
// after "AT+CFUN=1" was answered, as a real card is.
TEST_F(Cellular, TheCardIsReadASecondAfterFullFunctionality) {
    int at[2];
    ASSERT_EQ(pipe2(at, O_NONBLOCK | O_CLOEXEC), 0);
    g_state.atFd = at[1];
    uint64_t answeredUs = 0;
    std::string line;
    clock_.on_sleep = [&](uint64_t) {
        for (char byte = 0; read(at[0], &byte, 1) == 1;) {
            line += byte;
            if (byte != '\r') continue;
            if (line == "AT+CFUN=0\r") root_.write("/sim/radio_off", "");
            if (line == "AT+CFUN=1\r") answeredUs = monotonic_us();
            at_response_store("\r\nOK\r\n", 6);
            line.clear();
        }
        if (answeredUs != 0 && monotonic_us() - answeredUs >= 1000000) {
            unlink(root_.path("/sim/radio_off").c_str());
            answeredUs = 0;
        }
    };
    scenario(modem_json("310260000000001", nullptr));
    EXPECT_EQ(cellular_sim_setup(), 0);  // slot 0 at start: no settle time
    EXPECT_EQ(g_simSlots[0].presence, 1u);
    clock_.on_sleep = nullptr;
    g_state.atFd = -1;
    close(at[0]);
    close(at[1]);
}

TEST_F(Cellular, ApnOfTheSlotInUseGoesIntoProfile3) {
    g_simSlots[0].carrier = 6;
    g_simSlots[1].carrier = 5;
    const std::pair<int, const char*> cases[] = {{1, "ltemobile.apn"}, {0, "VZWINTERNET"}};
    for (const auto& [slot, apn] : cases) {
        g_cellular.currentSlot = &g_simSlots[slot];
        apn_program();
        QlApnProfile profile{};
        ASSERT_EQ(QL_APN_Get(3, &profile), 0);
        EXPECT_STREQ(profile.settings.apn_name, apn) << slot;
    }
}

TEST_F(Cellular, TimeZone) {
    const struct {
        const char *nitz, *mcc, *tz;
        bool ntp;
        size_t failures;
    } cases[] = {
        {"24/05/07,09:03:00+04,0", "310", "UTC-01:00", false, 0},
        {"24/05/07,09:03:00-22,0", "310", "UTC+05:30", false, 0},
        {"24/05/07,09:03:00+04,0", "262", "UTC-01:00", true, 0},
        {"24/05/07,09:03:00-22,0", "250", "UTC+05:30", false, 0},
        {"24/05/07,09:03:00+00,0", "310", "UTC-00:00", false, 0},
        {"24/05/07,09:03:00", "310", "UTC+00:00", false, 12},
        {"24/05/07,09:03:00+A4,0", "310", "UTC+00:00", false, 12},
    };
    for (const auto& c : cases) {
        scenario(modem_json("310260000000001", nullptr, std::string(R"(, "nitz": ")") + c.nitz + "\""));
        Registration registration{};
        std::snprintf(registration.mcc, sizeof registration.mcc, "%s", c.mcc);
        cellular_set_registration(registration);
        g_cellular.timeKnown = 0;
        const size_t failuresBefore = count_of(root_.log(), "Failed to get nitz");
        const size_t ntpBefore = standIns_.calls().size();
        time_zone_set();
        EXPECT_STREQ(std::getenv("TZ"), c.tz) << c.nitz << " " << c.mcc;
        EXPECT_EQ(g_cellular.timeKnown, 1);
        EXPECT_EQ(standIns_.calls().size() - ntpBefore, c.ntp ? 1u : 0u);
        EXPECT_EQ(count_of(root_.log(), "Failed to get nitz") - failuresBefore, c.failures) << c.nitz;
    }
    EXPECT_EQ(standIns_.calls().back(), "ntpd -n -N -q -p pool.ntp.org");
}

TEST_F(Cellular, LocalTimeStaysWholeWhileTheZoneChanges) {
    std::atomic<bool> done{false};
    clock_set_timezone("UTC-01:00");
    std::thread setter([&] {
        for (int i = 0; i < 2000; ++i) clock_set_timezone(i % 2 ? "UTC-01:00" : "UTC+05:30");
        done = true;
    });
    for (char text[32]; !done;) {
        clock_format(0, text, sizeof text);
        EXPECT_TRUE(!std::strcmp(text, "1970-01-01 01:00:00") || !std::strcmp(text, "1969-12-31 18:30:00"));
    }
    setter.join();
}

// Answers each AT line with what `reply` makes of it, on the real clock.
class AtResponder {
public:
    explicit AtResponder(std::function<std::string(const std::string&)> reply) {
        g_state.atFd = pty_.daemon_side();
        thread_ = std::thread([this, reply] {
            std::string line;
            for (char byte = 0; !stop_;) {
                pollfd p{pty_.peer_side(), POLLIN, 0};
                if (poll(&p, 1, 20) <= 0 || read(pty_.peer_side(), &byte, 1) != 1) continue;
                if (byte != '\r') line += byte;
                if (byte != '\r') continue;
                const std::string answer = reply(line);
                at_response_store(answer.data(), answer.size());
                line.clear();
            }
        });
    }
    ~AtResponder() {
        stop_ = true;
        thread_.join();
        g_state.atFd = -1;
    }

private:
    PtyPair pty_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string qeng(const std::string& state, const std::string& fields) {
    return "+QENG: \"servingcell\",\"" + state + "\"," + fields + "\r\n\r\nOK\r\n";
}

constexpr const char* kTenthField = "\"LTE\",\"FDD\",310,26,1A2B3C,123,1300,3,-95,5,1234,-104";

TEST_F(Cellular, AnAtExchangeGetsItsOwnAnswer) {
    time_source_install(nullptr);
    AtResponder modem([](const std::string& line) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return line == "at+qeng=\"servingcell\"" ? qeng("NOCONN", kTenthField) : "\r\nOK\r\n";
    });
    std::thread slotSwitch([] {
        char answer[1100];
        for (int i = 0; i < 10; ++i) {
            EXPECT_TRUE(at_exchange("AT+CFUN=0\r", 14, answer, sizeof answer));
            EXPECT_EQ(std::strstr(answer, "+QENG"), nullptr);
        }
    });
    for (int i = 0; i < 10; ++i) EXPECT_EQ(signal_servingcell_dbm(), -95);
    slotSwitch.join();
}

TEST_F(Cellular, ServingCellAnswersWithoutFieldsGiveNoLevel) {
    time_source_install(nullptr);
    std::string fullChunk = "\r\nOK\r\n";
    fullChunk += std::string(kAtResponseSize - fullChunk.size() - 7, 'x') + "+QENG: ";
    const std::string cases[] = {fullChunk, "+QENG: \r\nOK\r\n", "+QENG: servingcell,NOCONN\r\nOK\r\n"};
    std::atomic<const std::string*> answer{nullptr};
    AtResponder modem([&](const std::string&) { return *answer.load(); });
    for (const std::string& c : cases) {
        answer = &c;
        EXPECT_EQ(signal_servingcell_dbm(), 0) << c.substr(c.size() - 20);
    }
}

TEST_F(Cellular, AnErrorIsLoggedAndTheCommandSentAgain) {
    time_source_install(nullptr);
    std::atomic<int> sent{0};
    AtResponder modem([&](const std::string&) { return ++sent == 1 ? "\r\nERROR\r\n" : "\r\nOK\r\n"; });
    EXPECT_TRUE(at_exchange("AT+CFUN=0\r", 14));
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(count_of(root_.log(), ";AT;0;AT+CFUN=0\r"), 2u);
    EXPECT_EQ(count_of(root_.log(), ";AT;2;  ERROR\r\n"), 1u);
}

TEST_F(Cellular, SignalBars) {
    time_source_install(nullptr);
    std::atomic<const std::string*> answer{nullptr};
    AtResponder modem([&](const std::string&) { return *answer.load(); });
    const char* kLte0 = R"({"slots": [{"state": "ready"}], "signal": {"lte": 0}})";
    const struct {
        std::string modem, qeng;
        int ready, missing, bars;
        std::string line;
    } cases[] = {
        {R"({"signal": {"wcdma": -110}})", "", 1, 0, 1, "Signal strength: -110\r"},
        {R"({"signal": {"gsm": -111}})", "", 1, 0, 0, "Signal strength: -111\r"},
        {R"({"signal": {"lte": -100}})", "", 1, 0, 3, "Signal strength: -100\r"},
        {kLte0, kTenthField, 1, 0, 4, "Signal strength: -95\r"},
        {kLte0, "\"LTE\",\"FDD\",310,26,1A,123,1300,3,5,5,1234,-104,-10", 1, 0, 3, "strength: -104\r"},
        {kLte0, "", 1, 0, 0, "Signal strength: 0\r"},  // a state other than NOCONN
        {R"({"signal": {"gsm": -73}})", "", 1, 1, -1, ""},  // no SIM: nothing logged
        {R"({"signal": {"gsm": -73}})", "", 0, 0, 0, "Signal strength: 0\r"},
    };
    for (const auto& c : cases) {
        scenario(c.modem);
        const std::string reply = qeng(c.qeng.empty() ? "SEARCH" : "NOCONN", c.qeng);
        answer = &reply;
        g_cellular.modemReady = c.ready;
        g_cellular.simMissing = c.missing;
        const size_t before = root_.log().size();
        EXPECT_EQ(signal_bars(), c.bars) << c.modem << c.qeng;
        const std::string lines = root_.log().substr(before);
        EXPECT_TRUE(c.line.empty() ? lines.empty() : lines.find(c.line) != std::string::npos) << lines;
    }
    // Each step's floor and the reading just below it; an LTE reading counts 15 dB more.
    const std::tuple<const char*, int, int> edges[] = {
        {"gsm", -73, 5},  {"gsm", -74, 4},  {"gsm", -82, 4},  {"wcdma", -83, 3}, {"gsm", -92, 3},
        {"gsm", -93, 2},  {"gsm", -101, 2}, {"gsm", -102, 1}, {"lte", -88, 5},   {"lte", -89, 4},
        {"lte", -97, 4},  {"lte", -98, 3},  {"lte", -107, 3}, {"lte", -108, 2},  {"lte", -116, 2},
        {"lte", -117, 1}, {"lte", -125, 1}, {"lte", -126, 0}};
    g_cellular.modemReady = 1;
    g_cellular.simMissing = 0;
    for (const auto& [radio, dbm, bars] : edges) {
        scenario(std::string(R"({"signal": {")") + radio + "\": " + std::to_string(dbm) + "}}");
        EXPECT_EQ(signal_bars(), bars) << radio << " " << dbm;
    }
}

// One pass of the bring-up loop with the call's events at the given seconds of the pass.
TEST_F(Cellular, BringUpPass) {
    const struct {
        std::string signal;
        std::vector<std::pair<uint64_t, int>> events;
        size_t starts, activatedAfterStart;  // "Data activated" follows this start
        const char* line;
    } cases[] = {
        {"{}", {}, 0, 0, ";cell;2;Can't get stable signal\r\n"},  // 179 readings, then recovery
        {R"({"lte": -95})", {{32, 1}, {60, 0}}, 2, 2, nullptr},  // up after 31 s: stopped, started again
        {R"({"lte": -95})", {{5, 1}, {20, 0}, {25, 1}, {40, 0}}, 2, 1, nullptr},  // second drop switches
    };
    for (auto c : cases) {
        scenario(modem_json("310260000000001", "302720000000001", R"(, "signal": )" + c.signal));
        sim_slots_reset();
        ASSERT_EQ(cellular_sim_setup(), 0);
        const size_t modemBefore = modem_log().size(), logBefore = root_.log().size();
        const uint64_t start = monotonic_us() / 1000000;
        clock_.on_sleep = [&](uint64_t now) {
            for (; !c.events.empty() && now - start >= c.events.front().first; c.events.erase(c.events.begin())) {
                QlDataCallEvent event{};
                event.state = static_cast<uint32_t>(c.events.front().second);
                event.reason = 16;
                data_call_state_cb(&event);
            }
        };
        cellular_bring_up_once();
        clock_.on_sleep = nullptr;
        const std::string modem = modem_log().substr(modemBefore), daemon = root_.log().substr(logBefore);
        EXPECT_EQ(count_of(modem, "data call start: profile 3"), c.starts) << modem;
        EXPECT_EQ(count_of(modem, "data call stop: profile 1"), c.starts + 1) << modem;
        EXPECT_EQ(current(), 1) << "the loss moves to the other slot";
        EXPECT_EQ(count_of(daemon.substr(0, daemon.find("Data activated")), "start data call"),
                  c.activatedAfterStart) << daemon;
        EXPECT_EQ(count_of(daemon, "No valid signal"), c.starts ? 0u : 180u);
        EXPECT_TRUE(c.line == nullptr || daemon.find(c.line) != std::string::npos) << daemon;
        EXPECT_TRUE(c.starts == 0 || daemon.find(";Data;1;Data is disconnected: 0x10\r\n") != std::string::npos);
    }
}

}  // namespace
