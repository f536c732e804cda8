// The report as text: the wake table's cells and the totals.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/logreport/log_report.h"

namespace {

const char* end_text(Wake::End end) {
    switch (end) {
        case Wake::End::kPowerdown:
            return "off";
        case Wake::End::kReboot:
            return "reboot";
        default:
            return "LOST";
    }
}

// The parts known: "234/50 LTE", "LTE" for a wake cut before its network entry.
std::string network_text(const Wake& wake) {
    std::string out = wake.mcc.empty() && wake.mnc.empty() ? "" : wake.mcc + "/" + wake.mnc;
    if (!wake.radio.empty()) out += (out.empty() ? "" : " ") + wake.radio;
    return out.empty() ? "-" : out;
}

// With the decimals the daemon logs.
std::string volts_text(double volts, int decimals) {
    if (volts < 0) return "-";
    char text[16];
    std::snprintf(text, sizeof text, "%.*f", decimals, volts);
    return text;
}

std::string or_dash(const std::string& text) { return text.empty() ? "-" : text; }

// Name and width of each column; a negative width aligns left.
struct Column {
    const char* name;
    int width;
};
constexpr Column kColumns[] = {
    {"wake", 4},    {"start", -19},   {"on", 8},  {"end", -6}, {"data", 7}, {"slot", 4},
    {"ICCID", -20}, {"network", -14}, {"dBm", 4}, {"AA", 5},   {"ext", 5},  {"proc", 4},
    {"up", 3},      {"fail", 4},      {"req", 3}, {"upd", -8}, {"err", 3},  {"first error", 0}};

std::vector<int> column_widths() {
    std::vector<int> widths;
    for (const Column& column : kColumns) widths.push_back(column.width);
    return widths;
}

// Characters as a terminal shows them: UTF-8 continuation bytes take no room.
size_t shown_width(const std::string& text) {
    size_t width = 0;
    for (unsigned char c : text) width += (c & 0xC0) != 0x80 ? 1 : 0;
    return width;
}

}  // namespace

std::string count_text(int64_t count) {
    std::string digits = std::to_string(count);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string duration_text(int64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                      static_cast<int>(seconds % 60));
    return text;
}

std::string data_text(const Wake& wake) {
    const std::string tries = wake.dataAttempts > 1 ? "×" + std::to_string(wake.dataAttempts) : "";
    if (wake.dataUp) return duration_text(wake.dataSeconds) + tries;
    if (wake.dataFailed)
        return wake.dataAttempts > 0 ? "fail×" + std::to_string(wake.dataAttempts) : "fail";
    return "-";
}

std::string updates_text(const Wake& wake) {
    std::string out = std::to_string(wake.updates);
    if (wake.rolledBack) out += " rb";
    if (wake.mcuFlashFailed) out += " mcu-fail";
    return out;
}

std::string table_line(const std::vector<std::string>& cells, const std::vector<int>& widths) {
    std::string out;
    for (size_t i = 0; i < cells.size(); ++i) {
        const int width = i < widths.size() ? widths[i] : 0;
        const size_t pad = static_cast<size_t>(width < 0 ? -width : width);
        const std::string& cell = cells[i];
        const size_t shown = shown_width(cell);
        const std::string fill(shown < pad ? pad - shown : 0, ' ');
        if (i > 0) out += ' ';
        out += width < 0 ? cell + fill : fill + cell;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::vector<std::string> wake_columns() {
    std::vector<std::string> names;
    for (const Column& column : kColumns) names.emplace_back(column.name);
    return names;
}

std::vector<std::string> wake_cells(const Wake& wake) {
    return {std::to_string(wake.number),
            wake.start,
            duration_text(wake.onSeconds),
            end_text(wake.end),
            data_text(wake),
            wake.simSlot >= 0 ? std::to_string(wake.simSlot) : "-",
            or_dash(wake.iccid),
            network_text(wake),
            wake.signalDbm != 0 ? std::to_string(wake.signalDbm) : "-",
            volts_text(wake.battery, 2),
            volts_text(wake.external, 1),
            std::to_string(wake.processed),
            std::to_string(wake.uploaded),
            std::to_string(wake.uploadsFailed),
            std::to_string(wake.requests),
            updates_text(wake),
            std::to_string(wake.errors),
            wake.firstError};
}

std::string wake_table_header() { return table_line(wake_columns(), column_widths()); }

std::string wake_table_row(const Wake& wake) {
    return table_line(wake_cells(wake), column_widths());
}

std::string totals_text(const LogTotals& totals) {
    std::string out = "Wakes: " + count_text(totals.wakes) +
                      ", ended by a power loss: " + count_text(totals.powerLost) +
                      ", without a data call: " + count_text(totals.withoutDataCall) +
                      " (failed: " + count_text(totals.dataCallFailed) + ")\n";
    out += "Pictures uploaded: " + count_text(totals.picturesUploaded) +
           ", pictures whose upload failed: " + count_text(totals.uploadsFailed) + "\n";
    out += "On-time: median " + duration_text(totals.medianOnSeconds) + ", longest " +
           duration_text(totals.longestOnSeconds) + " (wake " + count_text(totals.longestWake) +
           ")\n";
    out += "Clock jumps left out of on-times: " + count_text(totals.clockJumps) + "\n";
    out += "Most frequent errors:" + std::string(totals.topErrors.empty() ? " none\n" : "\n");
    for (const auto& [kind, count] : totals.topErrors) {
        char line[160];
        std::snprintf(line, sizeof line, "%8lld  %s\n", static_cast<long long>(count),
                      kind.c_str());
        out += line;
    }
    out += "Lines: " + count_text(totals.lines) + ", entries: " + count_text(totals.entries) + "\n";
    std::string damage;
    for (const Damage& kind : totals.damage) {
        if (kind.count == 0) continue;
        damage += std::string("  ") + kind.what + ": " + count_text(kind.count);
        if (kind.bytes > 0) damage += ", " + count_text(kind.bytes) + " bytes in all";
        for (size_t i = 0; i < kind.firstLines.size(); ++i)
            damage += (i == 0 ? " (line " : ", ") + std::to_string(kind.firstLines[i]);
        damage += kind.count > static_cast<int64_t>(kind.firstLines.size()) ? ", ...)\n" : ")\n";
    }
    out += "Damage:" + (damage.empty() ? std::string(" none\n") : "\n" + damage);
    if (totals.outsideWakes > 0)
        out += "Entries outside a wake: " + count_text(totals.outsideWakes) + "\n";
    if (totals.unknownTagEntries > 0) {
        out += "Entries with an unknown tag: " + count_text(totals.unknownTagEntries) + " (";
        for (size_t i = 0; i < totals.unknownTags.size(); ++i)
            out += (i == 0 ? "" : ", ") + totals.unknownTags[i];
        out += ")\n";
    }
    return out;
}

std::vector<int64_t> wake_times(const std::vector<Wake>& wakes) {
    int64_t known = 0;
    for (const Wake& wake : wakes)
        if (wake.startSeconds > 0) {
            known = wake.startSeconds;
            break;
        }
    if (known == 0) return {};
    std::vector<int64_t> times;
    times.reserve(wakes.size());
    for (const Wake& wake : wakes) {
        if (wake.startSeconds >= known) known = wake.startSeconds;
        times.push_back(known);
    }
    return times;
}
