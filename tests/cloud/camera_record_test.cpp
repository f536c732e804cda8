#include <gtest/gtest.h>
#include <json-c/json.h>

#include <filesystem>
#include <string>

#include "cloud/camera_record.h"
#include "core/cellular_status.h"
#include "core/config.h"
#include "core/daemon_state.h"
#include "tests/support/fake_clock.h"
#include "core/json_util.h"
#include "tests/support/state_reset.h"
#include "tests/support/test_root.h"

namespace {

TEST(Battery, PercentageTypeAndClass) {
    struct Case {
        int battType, aa, ext;
        int percent;
        const char* type;
        int levelClass;
    } cases[] = {
        {0, 99, 0, 0, "12V", 2},       {2, 415, 0, 100, "KRB10", 0}, {2, 355, 0, 7, "KRB10", 1},
        {2, 340, 0, 0, "KRB10", 2},    {2, 361, 0, 16, "KRB10", 1},  {2, 362, 0, 18, "KRB10", 0},
        {3, 550, 0, 50, "AA_LIT", 0},  {3, 519, 0, 19, "AA_LIT", 1}, {3, 500, 0, 0, "AA_LIT", 2},
        {1, 600, 0, 100, "KRB10", 0},  {0, 470, 122, 100, "12V", 0}, {0, 467, 0, 5, "AA", 1},
        {0, 468, 0, 5, "AA", 0},       {0, 460, 101, 4, "12V", 1},   {0, 460, 100, 0, "AA", 2},
        {0, 600, 104, 100, "AA", 0},
    };
    for (const Case& c : cases) {
        config_reset();
        g_config.battType = c.battType;
        BatteryReport report = battery_report(c.ext, c.aa, c.battType);
        std::string label = std::to_string(c.battType) + "/" + std::to_string(c.aa) + "/" + std::to_string(c.ext);
        EXPECT_EQ(report.percent, c.percent) << label;
        EXPECT_STREQ(report.type, c.type) << label;
        EXPECT_EQ(battery_level_class(c.ext, c.aa), c.levelClass) << label;
    }
    config_reset();
}

class CameraRecord : public ::testing::Test {
protected:
    void SetUp() override {
        cellular_status_reset();
        sim_slots_reset();
        g_cellular.simMissing = 1;  // the signal is then reported without asking the modem
        clock.pin_wall(1715072580);  // 2024-05-07 09:03:00 UTC
        root.write("/sys/devices/qpnp-vadc-8/mpp4_vadc", "Result:1000000 Raw:1f2e\n");  // 20 C
    }
    void TearDown() override { config_reset(); }
    std::string status() { return json_object_to_json_string(camera_status_build().get()); }

    TestRoot root;
    ScopedTimeZone utc{"UTC0"};
    FakeClock clock;
};

TEST_F(CameraRecord, StatusMembersInTheServiceOrder) {
    g_config.battType = 2;
    g_config.battAA = 355;
    copy_text(g_config.tempUnit, sizeof g_config.tempUnit, "C");
    g_config.powerOnTime = 1714521600;  // 2024-05-01 00:00:00
    g_config.inaccurateDate = 1;
    g_config.sdCableOk = 1;
    g_config.mcuVersion = 7;
    copy_text(g_state.modemFirmware, sizeof g_state.modemFirmware, "FW_TEST_01");
    sim_slot_set_identity(g_simSlots[1], SimIdentity{"8944500102198304826", "234500012345678"});
    g_cellular.currentSlot = &g_simSlots[1];
    cellular_set_registration(Registration{"234", "50", "LTE", 20811, 4660});
    std::string text = status();
    std::string memory = "\"memory\": { \"size\": " + std::to_string(g_config.sdAvailableMiB) +
                         ", \"used\": " + std::to_string(g_config.sdUsedMiB) + " }";
    EXPECT_EQ(text,
              "{ \"sim\": \"8944500102198304826\", \"model\": \"TORVEX-C1\", \"version\": \"V1.05.07-5-g93dfb16 REV 1\", "
              "\"lastUpdate\": \"2024-05-07T09:03:00.000-00:00\", \"batteries\": [ 7 ], "
              "\"batteryType\": \"KRB10\", \"signal\": { \"bar\": -1, \"mnc\": 50, \"type\": \"LTE\", "
              "\"mcc\": 234, \"dBm\": 1, \"imsi\": \"234500012345678\", \"cellid\": 20811, \"lac\": 4660 }, " +
                  memory +
                  ", \"temperature\": { \"value\": 20, \"unit\": \"C\" }, "
                  "\"installDate\": \"2024-05-01 00:00:00\", \"modemFirmware\": \"FW_TEST_01\", "
                  "\"inaccurateDate\": true, \"capability\": { \"hdRequest\": true }, "
                  "\"notifications\": [ \"low_battery\" ] }");
}

TEST_F(CameraRecord, NotificationsInTheirOrder) {
    g_config.battAA = 600;
    g_config.sdCableOk = 1;
    EXPECT_EQ(status().find("notifications"), std::string::npos);
    g_config.battAA = 465;
    g_config.inaccurateDateNotice = 1;
    g_config.sdCableOk = 0;
    std::filesystem::remove_all(root.path("/media/sdcard"));
    std::string text = status();
    EXPECT_NE(text.find("\"memory\": { \"size\": 0, \"used\": 0 }"), std::string::npos);
    EXPECT_NE(text.find("\"notifications\": [ \"missing_sd_card\", \"low_battery\", \"inaccurate_date\", "
                        "{ \"message\": \"missing_sd_cable\" } ]"),
              std::string::npos)
        << text;
    // Fahrenheit unless the unit is exactly "C".
    EXPECT_NE(text.find("\"temperature\": { \"value\": 68, \"unit\": \"F\" }"), std::string::npos);
}

}  // namespace
