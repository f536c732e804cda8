#include <gtest/gtest.h>
#include <json-c/json.h>

#include <string>

#include "cloud_emulator.h"
#include "json_util.h"
#include "sim_files.h"
#include "test_root.h"

// The emulator's side of the contract that the daemon's cloud tests rely on,
// checked with an independent client: Debian's curl.
namespace {

struct CurlRun {
    int exitCode = -1;
    std::string output;
};

CurlRun curl(const std::string& arguments) {
    CurlRun run;
    run.exitCode = sim_run("curl -sS " + arguments + " 2>/dev/null", run.output);
    return run;
}

struct CertificateCase {
    bool foreignCa;
    const char* name;  // how the client names the server
    int curlExit;      // 0, or 60: the peer's certificate cannot be verified
};

class Certificate : public ::testing::TestWithParam<CertificateCase> {};

TEST_P(Certificate, VerifiesAgainstTheWrittenCaOnlyWhenItIssuedIt) {
    const CertificateCase& c = GetParam();
    TestRoot root;
    CloudScenario scenario;
    scenario.foreignCa = c.foreignCa;
    CloudEmulator cloud(scenario);
    ASSERT_TRUE(cloud.start());
    ASSERT_TRUE(cloud_emulator_attach(cloud, scenario, root.root()));

    CurlRun run = curl("--cacert " + root.path("/usrdata/cacert.pem") + " https://" + c.name + ":" +
                       std::to_string(cloud.port()) + "/camapi/v3/token/861234567890123");
    EXPECT_EQ(run.exitCode, c.curlExit);
    EXPECT_EQ(cloud.token_requests().size(), c.curlExit == 0 ? 1u : 0u);
    EXPECT_NE(root.read("/etc/qz_daemon_conf.json").find("\"host\": \"" + cloud.host() + "\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Cloud, Certificate,
                         ::testing::Values(CertificateCase{false, "127.0.0.1", 0},
                                           CertificateCase{false, "localhost", 0},
                                           CertificateCase{true, "127.0.0.1", 60}));

TEST(CloudEmulator, StoresWhatTheInstructionsNameOverOneKeptConnection) {
    TestRoot root;
    CloudScenario scenario;
    scenario.uploadStatus["refused.jpg"] = 403;
    CloudEmulator cloud(scenario);
    ASSERT_TRUE(cloud.start());
    ASSERT_TRUE(cloud_emulator_attach(cloud, scenario, root.root()));
    const std::string base = "--cacert " + root.path("/usrdata/cacert.pem") + " ";
    const std::string api = "https://" + cloud.host() + "/camapi/v3/";

    JsonPtr token = json_parse(curl(base + api + "token/1").output.c_str());
    const char* bearer = json_member_string(token.get(), "token");
    ASSERT_NE(bearer, nullptr);
    const std::string document = R"({"uploads": [{"name": "kept.jpg", "size": 5}, {"name": "refused.jpg", "size": 3}]})";
    JsonPtr answer = json_parse(curl(base + "-X PUT -H 'Authorization: Bearer " + bearer + "' -d '" + document +
                                     "' " + api + "camera/1")
                                    .output.c_str());
    json_object* instructions = nullptr;
    ASSERT_TRUE(json_object_object_get_ex(answer.get(), "uploads", &instructions));
    ASSERT_EQ(json_object_array_length(instructions), 2u);

    // Both uploads in one curl run: one connection, one handshake.
    sim_write_file(root.path("/kept.jpg"), "JPEG!");
    sim_write_file(root.path("/refused.jpg"), "JPG");
    std::string uploads;
    for (size_t i = 0; i < 2; ++i) {
        json_object* instruction = json_object_array_get_idx(instructions, i);
        uploads += (i ? " --next " : "") + base + "-X " + json_member_string(instruction, "verb") + " -T " +
                   root.path(std::string("/") + json_member_string(instruction, "name"));
        json_object* headers = nullptr;
        json_object_object_get_ex(instruction, "headers", &headers);
        for (size_t h = 0; h < json_object_array_length(headers); ++h) {
            json_object* header = json_object_array_get_idx(headers, h);
            uploads += std::string(" -H '") + json_member_string(header, "name") + ": " +
                       json_member_string(header, "value") + "'";
        }
        uploads += std::string(" ") + json_member_string(instruction, "host") + json_member_string(instruction, "path");
    }
    int connectionsBefore = cloud.connections(), handshakesBefore = cloud.handshakes();
    EXPECT_EQ(curl(uploads).exitCode, 0);
    EXPECT_EQ(cloud.connections() - connectionsBefore, 1);
    EXPECT_EQ(cloud.handshakes() - handshakesBefore, 1);

    auto stored = cloud.pictures();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name, "kept.jpg");
    EXPECT_EQ(stored[0].bytes, "JPEG!");
    auto requests = cloud.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].header("authorization"), std::string("Bearer ") + bearer);
    EXPECT_EQ(requests[1].body, document);
    EXPECT_EQ(requests[3].status, 403);
}

}  // namespace
