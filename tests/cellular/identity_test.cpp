// The modem's identity read at start-up through the DM service.
#include <utility>

#include "core/daemon_state.h"
#include "cellular/identity.h"
#include "tests/modem_sdk/modem_fixture.h"
#include "tests/support/state_reset.h"

namespace {

class Identity : public ModemTest {
protected:
    ~Identity() override { identity_reset(); }
};

TEST_F(Identity, ImeiAndFirmwareAreKept) {
    scenario(R"({"imei": "866123045678901", "firmware": "QZM01R06A01"})");
    identity_read();
    EXPECT_STREQ(g_state.imei, "866123045678901");
    EXPECT_STREQ(g_state.modemFirmware, "QZM01R06A01");
    EXPECT_EQ(root_.log(), "");
}

TEST_F(Identity, FailedImeiStillReadsTheFirmware) {
    scenario(R"({"imei": "866123045678901", "firmware": "QZM01R06A01",
                 "failures": {"0x02A0": {"resp": 1, "error": 14}}})");
    identity_read();
    EXPECT_STREQ(g_state.imei, "");
    EXPECT_STREQ(g_state.modemFirmware, "QZM01R06A01");
    EXPECT_NE(root_.log().find("Get IMEI error: -19"), std::string::npos);
    EXPECT_EQ(root_.log().find("Get device Rev ID error"), std::string::npos);
}

TEST_F(Identity, FirmwareTextUpTo256CharactersIsKept) {
    for (auto [length, kept] : {std::pair<size_t, size_t>{256, 256}, {257, 0}, {259, 0}}) {
        g_state.modemFirmware[0] = '\0';
        scenario(R"({"firmware": ")" + std::string(length, 'R') + "\"}");
        EXPECT_EQ(modem_firmware_read(), 0);
        EXPECT_EQ(strnlen(g_state.modemFirmware, sizeof g_state.modemFirmware), kept) << length;
    }
    scenario(R"({"failures": {"0x02A1": {"ret": 4}}})");
    EXPECT_EQ(modem_firmware_read(), -19);
}

}  // namespace
