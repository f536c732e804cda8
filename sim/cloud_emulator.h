#pragma once
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The cloud service of the simulated board: HTTPS on 127.0.0.1 with a
// certificate authority of its own, serving the token and camera endpoints
// under /camapi/v3/ and storage endpoints that its upload instructions name.
// It keeps everything it received, and plays the faults of a scenario.

// What the service does; the defaults make a service that works. The camera
// PUT faults act in this order, each on the PUTs the ones above let through.
struct CloudScenario {
    int refuseToken = 0;            // camera PUTs answered refuseStatus, revoking the token sent
    int refuseStatus = 401;         // 401 or 403
    int serverErrors = 0;           // camera PUTs answered serverErrorStatus
    int serverErrorStatus = 500;
    int dropCamera = 0;             // camera PUTs whose answer breaks off mid-body
    int notJson = 0;                // camera PUTs with a valid token answered 200, not JSON
    std::string tokenAnswer;        // the token endpoint's answer instead of a fresh token
    std::string storedToken;        // a token the device already holds and the service accepts
    std::string config;             // JSON object sent as "config" in the first good answer
    std::string requests;           // JSON object sent as "requests" until acknowledged; its
                                    // instructions without "host" get endpoints of ours
    std::map<std::string, std::string> files;  // name -> bytes that download instructions serve
    int picturesWanted = -1;        // pictures asked for per answer; -1: every one offered
    std::string instruction;        // JSON object whose members overwrite those of every upload instruction
    std::map<std::string, int> uploadStatus;  // picture name -> storage status; 0 drops the connection
    bool foreignCa = false;         // the server certificate comes from another CA
    int tokenLength = 0;            // characters of each token issued; 0: 36
    std::map<std::string, std::string> uploadHeaders;  // added to the headers of every upload instruction
    std::string uploads;            // JSON array sent as "uploads" instead of an instruction per picture
                                    // offered; entries without "host" get a storage endpoint of ours,
                                    // without "size" the size offered
    size_t padding = 0;             // bytes of empty objects after the instructions in "uploads", sent
                                    // chunked, so that only the bytes tell the answer's length
    std::vector<std::string> silent;  // endpoints ("token", "camera", "storage", "files") that take
                                      // each request and never answer
    std::string retryAfter;         // Retry-After of the serverErrors answers
    bool repeatRequests = false;    // "requests" go with every answer, acknowledged or not
};

// Reads a scenario's `cloud` member (a JSON object as text); false when it is not one.
bool cloud_scenario_parse(const std::string& json, CloudScenario& scenario);

// One request as it arrived, with the status it was answered with.
struct CloudRequest {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;  // in arrival order
    std::string body;
    int status = 0;  // 0: the connection was dropped
    std::chrono::steady_clock::time_point when;  // its headers and body had arrived

    // The first header of that name (any case); empty when missing.
    std::string header(const std::string& name) const;
};

// A file the storage accepted: a picture, or what a request's upload sent.
struct StoredPicture {
    std::string name;
    std::string bytes;
    std::vector<std::pair<std::string, std::string>> headers;
};

class CloudEmulator {
public:
    explicit CloudEmulator(CloudScenario scenario = {});
    ~CloudEmulator();
    CloudEmulator(const CloudEmulator&) = delete;
    CloudEmulator& operator=(const CloudEmulator&) = delete;

    // Listens on 127.0.0.1 on a free port; false when it cannot.
    bool start();
    void stop();
    int port() const;
    // "127.0.0.1:<port>", the daemon's "host", unless a relay stands in front.
    std::string host() const;
    // From now on the service names `relayHost` ("127.0.0.1:<port>") as its
    // address and in its instructions, so that every request goes through it.
    void reach_through(const std::string& relayHost);
    // Writes the CA certificate the device is to trust (PEM).
    bool write_ca(const std::string& path) const;

    std::vector<CloudRequest> requests() const;          // everything, in order
    std::vector<CloudRequest> token_requests() const;
    std::vector<CloudRequest> camera_documents() const;
    std::vector<StoredPicture> pictures() const;
    int connections() const;  // TCP connections accepted
    int handshakes() const;   // TLS handshakes completed
    // Bytes of the requests received (request lines, headers, bodies) and of
    // the answer bodies sent.
    struct Traffic {
        size_t received = 0, sent = 0;
    };
    Traffic traffic() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Points a device root at the emulator: its CA as usrdata/cacert.pem, its
// address as "host" (and the scenario's stored token as "s3token") in the
// configuration file, keeping what else the file holds.
bool cloud_emulator_attach(const CloudEmulator& cloud, const CloudScenario& scenario,
                           const std::string& root);

// The requests received and the files stored, readably, for a transcript.
std::string cloud_emulator_report(const CloudEmulator& cloud);
