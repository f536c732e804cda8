#pragma once
#include <atomic>
#include <string>
#include <thread>

// The modem's side of the simulated board and its I/O lines, under a device
// root: the vendor's RIL service (a start script that raises the readiness
// flag files, and a `pidof` stand-in that tells whether it runs), the
// management server's lock file, the simulated modem's scenario
// (sim/modem.json), the GPIO sysfs tree, a sparse dev/mem and the ADC files.
// The stand-in commands record their calls in sim/commands.log like the
// board's others.

// Parts of the platform a test can withhold to inject a fault.
enum class ModemFault {
    NoServiceFlag,    // "/tmp/mcm_service_ready.flag" never appears
    NoDataFlag,       // nor the data service's flag
    NoLocationFlag,
    NoMobileApFlag,
    NoAtcopFlag,
    NoSimFlag,
    NoStartScript,    // the RIL start script is missing
    RilSeemsRunning,  // pidof reports the RIL service although it never started
    NoManagerLock,    // the management server's lock file is missing
};

// The modem the board comes with: a PIN-locked card in slot 0, slot 1 empty,
// LTE at -95 dBm, a data call that connects 2 s after it is started.
extern const char* const kDefaultModemScenario;

// The board's default straps read as revision 2; the temperature sensor as 27 °C.
constexpr int kDefaultBoardRevision = 2;
constexpr int kDefaultAdcMillivolts = 812;

void modem_board_withhold(const std::string& root, ModemFault fault);
void modem_board_set_lock(const std::string& root, const std::string& content);
// Replaces the scenario in one step; the modem reads it again at its next request.
void modem_board_set_scenario(const std::string& root, const std::string& json);
// The level the REV ID lines read as (1 to 16), also for lines already exported.
void modem_board_set_revision(const std::string& root, int revision);
// The temperature sensor's voltage; a negative value removes the ADC.
void modem_board_set_adc(const std::string& root, int millivolts);

// Lays the modem's side out and plays the kernel's part of /sys/class/gpio
// while it lives: a number written to "export" makes gpio<number>/ appear,
// with its "direction" and "value".
class ModemBoard {
public:
    ModemBoard() = default;
    ~ModemBoard();
    ModemBoard(const ModemBoard&) = delete;
    ModemBoard& operator=(const ModemBoard&) = delete;

    void lay_out(const std::string& root);

private:
    void export_watch();

    std::string root_;
    int watch_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread exporter_;
};

