#include "tools/logreport/fleet.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "tools/logreport/page_parts.h"

namespace {

constexpr int64_t kDay = 86400;
constexpr int64_t kRecent = 30 * kDay;
constexpr double kSilentDays = 2;
constexpr double kNoDataShare = 0.1;

// Least-squares slope of the readings, in volts per 30 days; false without a day between them.
bool battery_trend(const std::vector<int64_t>& times, const std::vector<double>& volts,
                   double& trend) {
    double n = 0, meanT = 0, meanV = 0;
    int64_t first = 0, last = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        if (std::isnan(volts[i])) continue;
        if (n == 0) first = times[i];
        last = times[i];
        n += 1;
        meanT += static_cast<double>(times[i] - times.front());
        meanV += volts[i];
    }
    if (n < 2 || last - first < kDay) return false;
    meanT /= n;
    meanV /= n;
    double covariance = 0, variance = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        if (std::isnan(volts[i])) continue;
        const double dt = static_cast<double>(times[i] - times.front()) - meanT;
        covariance += dt * (volts[i] - meanV);
        variance += dt * dt;
    }
    trend = covariance / variance * static_cast<double>(kRecent);
    return true;
}

struct Need {
    int rank;
    double amount;  // within a rank, more comes first
    std::string text;
};

std::string percent_text(int part, int whole) {
    return whole == 0 ? "-"
                      : std::to_string(static_cast<int>(std::lround(100.0 * part / whole))) + "%";
}

Need need_of(const Camera& camera, int64_t newest) {
    if (!camera.readable) return {0, 0, "log unreadable"};
    if (camera.wakes == 0) return {0, 0, "no wake in the log"};
    const double silentDays = newest > 0 && camera.lastTime > 0
                                  ? static_cast<double>(newest - camera.lastTime) / kDay
                                  : 0;
    if (silentDays > kSilentDays)
        return {1, silentDays, "silent " + std::to_string(static_cast<int>(silentDays)) + " days"};
    if (camera.lowBattery) return {2, -camera.battery, "low battery"};
    const double noData =
        camera.recentWakes > 0 ? double(camera.recentWithoutData) / camera.recentWakes : 0;
    if (noData >= kNoDataShare)
        return {3, noData, "no data " + percent_text(camera.recentWithoutData, camera.recentWakes)};
    if (camera.recentRolledBack || camera.recentMcuFlashFailed) return {4, 0, "update failed"};
    // Nothing calls for a visit: the most wakes without a data call, then the battery falling
    // fastest.
    return {5, noData * 10 + (camera.trendKnown ? -camera.trend : 0), ""};
}

std::string volts_text(double volts, const char* format) {
    char text[16];
    std::snprintf(text, sizeof text, format, volts);
    return text;
}

// A file name as a link: every byte but letters, digits and "-._~" as %XX.
std::string url_escaped(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
            continue;
        }
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        out += hex;
    }
    return out;
}

std::string recent_updates(const Camera& camera) {
    std::string out = std::to_string(camera.recentUpdates);
    if (camera.recentRolledBack) out += " rb";
    if (camera.recentMcuFlashFailed) out += " mcu-fail";
    return out;
}

std::vector<std::string> cells_of(const Camera& camera) {
    return {camera.name,
            count_text(camera.wakes),
            camera.lastWake.empty() ? "-" : camera.lastWake,
            camera.battery >= 0 ? volts_text(camera.battery, "%.2f") : "-",
            camera.trendKnown ? volts_text(camera.trend, "%+.2f") : "-",
            percent_text(camera.recentWithoutData, camera.recentWakes),
            std::to_string(camera.recentUploadsFailed),
            recent_updates(camera),
            camera.visit.empty() ? "-" : camera.visit,
            camera.topError};
}

const char* const kColumns[] = {"camera",  "wakes",   "last wake", "AA",    "V/30d",
                                "no data", "up fail", "upd",       "visit", "most frequent error"};
const std::vector<int> kWidths = {-20, 7, -19, 5, 6, 7, 7, -8, -16, 0};

}  // namespace

Camera camera_of(const std::string& name, const std::vector<Wake>& wakes, const LogTotals& totals) {
    Camera camera;
    camera.name = name;
    camera.readable = true;
    camera.wakes = static_cast<int>(wakes.size());
    if (!totals.topErrors.empty()) camera.topError = totals.topErrors.front().first;
    if (wakes.empty()) return camera;
    const std::vector<int64_t> times = wake_times(wakes);
    camera.lastWake = wakes.back().start;
    camera.lastTime = times.empty() ? 0 : times.back();
    for (auto wake = wakes.rbegin(); wake != wakes.rend(); ++wake)
        if (wake->battery >= 0) {
            camera.battery = wake->battery;
            break;
        }
    // The camera record goes out only over a data call.
    for (auto wake = wakes.rbegin(); wake != wakes.rend(); ++wake)
        if (wake->dataUp) {
            camera.lowBattery = wake->lowBattery;
            break;
        }
    const int64_t from = camera.lastTime - kRecent;
    for (size_t i = 0; i < wakes.size(); ++i) {
        if (!times.empty() && times[i] < from) continue;
        const Wake& wake = wakes[i];
        ++camera.recentWakes;
        camera.recentWithoutData += wake.dataUp ? 0 : 1;
        camera.recentUploadsFailed += wake.uploadsFailed;
        camera.recentUpdates += wake.updates;
        camera.recentRolledBack = camera.recentRolledBack || wake.rolledBack;
        camera.recentMcuFlashFailed = camera.recentMcuFlashFailed || wake.mcuFlashFailed;
        if (times.empty()) continue;
        camera.times.push_back(times[i]);
        camera.batteries.push_back(wake.battery >= 0 ? wake.battery : NAN);
    }
    camera.trendKnown = battery_trend(camera.times, camera.batteries, camera.trend);
    return camera;
}

void fleet_order(std::vector<Camera>& cameras) {
    int64_t newest = 0;
    for (const Camera& camera : cameras) newest = std::max(newest, camera.lastTime);
    std::vector<std::pair<Need, Camera>> ranked;
    for (Camera& camera : cameras) {
        Need need = need_of(camera, newest);
        camera.visit = need.text;
        ranked.emplace_back(std::move(need), std::move(camera));
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
        if (a.first.rank != b.first.rank) return a.first.rank < b.first.rank;
        if (a.first.amount != b.first.amount) return a.first.amount > b.first.amount;
        return a.second.name < b.second.name;
    });
    cameras.clear();
    for (auto& [need, camera] : ranked) cameras.push_back(std::move(camera));
}

std::string fleet_table(const std::vector<Camera>& cameras) {
    std::string out =
        table_line(std::vector<std::string>(std::begin(kColumns), std::end(kColumns)), kWidths) +
        "\n";
    for (const Camera& camera : cameras) out += table_line(cells_of(camera), kWidths) + "\n";
    return out;
}

bool write_fleet_page(FILE* out, const char* title, const std::vector<Camera>& cameras) {
    std::string page = page_start("Fleet: " + std::string(title)) +
                       "<p>The camera that needs a visit first is at the top. Recent figures cover "
                       "the 30 days up to "
                       "each camera's last wake; the battery lines show the AA readings over them, "
                       "all on one scale.</p>"
                       "<div class=\"scroll\"><table id=\"fleet\"><thead><tr>";
    for (size_t i = 0; i < std::size(kColumns); ++i) {
        page += "<th>" + html_escaped(kColumns[i]) + "</th>";
        if (i == 3) page += "<th>battery, 30 days</th>";
    }
    page += "</tr></thead><tbody>";
    double low = INFINITY, high = -INFINITY;
    for (const Camera& camera : cameras)
        for (double volts : camera.batteries)
            if (!std::isnan(volts)) {
                low = std::min(low, volts);
                high = std::max(high, volts);
            }
    for (const Camera& camera : cameras) {
        const std::vector<std::string> cells = cells_of(camera);
        page += "<tr class=\"camera\">";
        for (size_t i = 0; i < cells.size(); ++i) {
            const bool linked = i == 0 && !camera.page.empty();
            page += i == 0 ? "<td class=\"name\">" : "<td>";
            page += linked ? "<a href=\"" + url_escaped(camera.page) + "\">" +
                                 html_escaped(cells[i]) + "</a>"
                           : html_escaped(cells[i]);
            page += "</td>";
            if (i == 3)
                page += "<td>" +
                        sparkline(camera.times, camera.batteries, camera.lastTime - kRecent,
                                  camera.lastTime, low, high,
                                  "AA batteries of " + camera.name + " over 30 days") +
                        "</td>";
        }
        page += "</tr>";
    }
    page += "</tbody></table></div></body></html>\n";
    return std::fwrite(page.data(), 1, page.size(), out) == page.size() && std::ferror(out) == 0;
}
