#pragma once
#include <map>
#include <string>

// The modem's AT interpreter on the simulated board. It answers each line the
// daemon sends as the "at" member of the modem scenario (sim/modem.json) says:
//   "at": { "delay": 0.05,
//           "servingcell": {"state": "NOCONN", "fields": "\"LTE\",\"FDD\",234,..."},
//           "commands": { "AT+CFUN=0": {"errors": 2, "delay": 3, "silent": false} } }
// "AT+CFUN=0" switches the radio off (sim/radio_off: no card, no network)
// until "AT+CFUN=1". Every line is appended to sim/at.log.
struct AtReply {
    std::string text;    // without the framing CR LF
    double delay = 0;    // seconds before it is sent
    bool silent = false; // never answered
};

class AtInterpreter {
public:
    explicit AtInterpreter(std::string root) : root_(std::move(root)) {}
    AtReply answer(const std::string& line);

private:
    std::string root_;
    std::map<std::string, int> errorsSent_;  // by command prefix
};
