#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The simulated modem behind the host stand-ins of the vendor's libraries.
// What it holds comes from the scenario file <QZ_ROOT>/sim/modem.json, read
// again whenever the file changes, so a test can pull a SIM or drop the data
// call while the daemon runs. The card it sees follows the board's two
// SIM-control GPIO lines under the root.
namespace sim_modem {

struct Card {
    std::string state = "absent";  // "absent", "ready" or "error"
    std::string iccid;
    std::string imsi;
    std::string pin;  // empty: the card asks for no PIN
};

// A forced answer to one MCM message.
struct Codes {
    int ret = 0;
    uint32_t resp = 0;
    uint32_t error = 0;
};

struct Network {
    bool registered = false;
    uint32_t radio = 0;  // radio technology code
    std::string mcc;
    std::string mnc;
    uint32_t cellId = 0;
    uint32_t lac = 0;
    uint32_t tac = 0;
};

struct DataCall {
    std::string result = "connect";  // "connect", "fail" or "refuse"
    double delay = 1.0;              // seconds from the start request to its event
    double dropAfter = 0.0;          // seconds until a connected call drops; 0: never
    uint32_t reason = 0;             // reason code of a failed or dropped call
    bool drop = false;               // true drops a connected call at once
    bool ipv6 = false;               // events carry the second address block
};

struct Scenario {
    std::string imei;
    std::string meid;
    std::string firmware;
    std::string nitz;
    Card slots[2];
    std::map<std::string, int> signal;  // "gsm", "wcdma", "tdscdma", "lte", "cdma", "hdr"
    Network network;
    std::vector<DataCall> dataCalls;  // each start request's outcome in turn, the last repeating
    uint32_t mcmInit = 0;  // result of mcm_client_init
    int mcmRelease = 0;    // result of mcm_client_release
    int mgmtOpen = 0;      // result of ql_mgmt_client_open
    std::map<uint32_t, Codes> mcmFailures;
    std::map<uint32_t, int> mgmtFailures;
};

// The card behind the modem's SIM interface now.
struct SeenCard {
    int slot = -1;  // -1 while the two SIM-control lines disagree
    Card card;
    bool pinNeeded = false;  // a PIN is set and not yet verified since the card appeared
};

// QZ_ROOT, empty when unset.
std::string root();
Scenario scenario();
SeenCard seen_card();
// The outcome of start request `attempt` (from 0): the scenario's in turn, its
// last repeating; a call that connects when the scenario gives none.
DataCall data_call(const Scenario& scenario, size_t attempt);
// Counts a start request and gives its number; the count starts over when
// the scenario file changes.
size_t next_call_attempt();
// Verifies the PIN of the card seen now; false when it is wrong.
bool verify_pin(const std::string& pin);

// True when the management server's lock file says it is up.
bool manager_up();

// A line in <root>/sim/modem.log: what the modem was asked and did.
void log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The monotonic clock and sleeping of the modem's own threads.
double now_seconds();
void pause_seconds(double seconds);

}  // namespace sim_modem
