#pragma once
// The event log read back for people: one record per wake of the module, and
// totals. Reads the log as it is found on a card: entries over several lines,
// lines cut by a power loss, NUL runs, clock jumps and stray bytes, in a time
// that grows in step with the log whatever its damage.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// From "Modem power-on" to "Modem powerdown", a reboot, or the next power-on
// or the end of the log (the power was lost).
struct Wake {
    enum class End { kPowerdown, kReboot, kPowerLost };
    int number = 0;
    std::string start;         // the power-on entry's time, as the log writes it
    int64_t startSeconds = 0;  // the same instant on the wake's last clock; 0 when never set
    End end = End::kPowerLost;
    int64_t onSeconds = 0;     // clock jumps left out
    int64_t dataSeconds = -1;  // power-on to "Data activated"; -1 when it never came
    bool dataUp = false;
    int dataAttempts = 0;      // data calls tried up to the first that came up
    bool dataFailed = false;   // a data call was tried and none came up, or the bring-up gave up
    int simSlot = -1;
    std::string iccid, mcc, mnc, radio;
    int signalDbm = 0;  // 0: none read
    double battery = -1, external = -1;  // volts, -1: not reported
    bool lowBattery = false;  // the camera record said "low_battery"
    int processed = 0, uploaded = 0;
    int uploadsFailed = 0;  // pictures refused or failed, each counted once
    int requests = 0;
    int updates = 0;        // parts installed and kept
    bool rolledBack = false, mcuFlashFailed = false;
    int errors = 0;
    std::string firstError;  // "tag: message"
    int clockJumps = 0;
};

// Damage of one kind, counted in its own unit, with the first few line numbers.
struct Damage {
    const char* what;
    int64_t count = 0;
    int64_t bytes = 0;  // NUL runs: their bytes in all
    std::vector<int64_t> firstLines;
};

struct LogTotals {
    int64_t lines = 0, entries = 0;
    int wakes = 0, powerLost = 0, withoutDataCall = 0, dataCallFailed = 0;
    int picturesUploaded = 0, uploadsFailed = 0;
    int64_t medianOnSeconds = 0, longestOnSeconds = 0;
    int longestWake = 0;
    int clockJumps = 0;
    int64_t outsideWakes = 0;  // entries before the first power-on or after a powerdown
    std::vector<Damage> damage;  // entries cut short, NUL runs, stray bytes, malformed entries
    int64_t unknownTagEntries = 0;
    std::vector<std::string> unknownTags;  // the first few
    std::vector<std::pair<std::string, int64_t>> topErrors;  // most frequent first
};

class LogReport {
public:
    using WakeSink = std::function<void(const Wake&)>;
    // `sink` gets each wake as soon as it is over.
    explicit LogReport(WakeSink sink);
    ~LogReport();
    LogReport(const LogReport&) = delete;
    LogReport& operator=(const LogReport&) = delete;

    // Any piece of the log, in order; the cut between pieces does not matter.
    void add(const char* data, size_t size);
    // Ends the log: the open wake is closed and the totals are worked out.
    const LogTotals& finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Reads a whole file; false when it cannot be opened or read.
bool log_report_file(const char* path, LogReport& report);

// The table's column names and one wake's cells, as text.
std::vector<std::string> wake_columns();
std::vector<std::string> wake_cells(const Wake& wake);
std::string wake_table_header();
std::string wake_table_row(const Wake& wake);
std::string totals_text(const LogTotals& totals);
// "1:02:03" or "2:03".
std::string duration_text(int64_t seconds);
// "12,345".
std::string count_text(int64_t count);
// The data column: "0:05", "1:05×3" (up at the third try), "fail×6", "fail", "-".
std::string data_text(const Wake& wake);
// The update column: "1", "0 rb", "1 mcu-fail".
std::string updates_text(const Wake& wake);
// Cells padded to their columns' widths (a negative width aligns left), in
// characters as a terminal shows them.
std::string table_line(const std::vector<std::string>& cells, const std::vector<int>& widths);

// Where each wake sits on a time line: its start on the wake's last clock; a
// wake whose clock was never set sits with the wake before it. Empty when no
// wake ever had a set clock.
std::vector<int64_t> wake_times(const std::vector<Wake>& wakes);

// One self-contained page: the totals, charts over time and the wake table.
bool write_report_page(FILE* out, const char* title, const std::vector<Wake>& wakes, const LogTotals& totals);
