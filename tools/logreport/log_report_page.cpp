// The report as one page that opens offline: plain SVG drawn here, no script,
// so what the browser shows is what the page holds.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "log_report.h"

namespace {

constexpr double kWidth = 900, kHeight = 220;
constexpr double kLeft = 60, kRight = 20, kTop = 24, kBottom = 30;
constexpr int64_t kDay = 86400;

std::string escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// A tick's value with as many decimals as the step needs.
std::string tick_text(double value, double step) {
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(value) < step / 1e6 ? 0.0 : value);
    return text;
}

// The stamps' own time of day: they carry no zone.
std::string date_text(double seconds, bool withTime) {
    const time_t when = static_cast<time_t>(seconds);
    tm fields{};
    gmtime_r(&when, &fields);
    char text[32];
    std::strftime(text, sizeof text, withTime ? "%m-%d %H:%M" : "%Y-%m-%d", &fields);
    return text;
}

// Where each wake sits on the time axis: its start on the wake's last clock;
// a wake whose clock was never set sits with the wake before it. With no clock
// at all, the wakes are evenly spaced by number.
struct TimeAxis {
    std::vector<double> at;
    bool byNumber = true;
    double low = 0, high = 1;

    explicit TimeAxis(const std::vector<Wake>& wakes) {
        double known = 0;
        for (const Wake& wake : wakes)
            if (wake.startSeconds > 0) {
                known = static_cast<double>(wake.startSeconds);
                byNumber = false;
                break;
            }
        for (const Wake& wake : wakes) {
            if (byNumber) {
                at.push_back(wake.number);
                continue;
            }
            if (wake.startSeconds > 0 && static_cast<double>(wake.startSeconds) >= known)
                known = static_cast<double>(wake.startSeconds);
            at.push_back(known);
        }
        if (!at.empty()) {
            low = at.front();
            high = at.back();
        }
        if (high <= low) {
            const double pad = byNumber ? 1.0 : static_cast<double>(kDay);
            low -= pad;
            high += pad;
        }
    }
    double x(size_t index) const { return kLeft + (at[index] - low) / (high - low) * (kWidth - kLeft - kRight); }
    std::string label(double value) const {
        if (byNumber) return "wake " + std::to_string(static_cast<long long>(std::lround(value)));
        return date_text(value, high - low < 5.0 * kDay);
    }
};

struct Range {
    double low, high;
    double y(double value) const { return kHeight - kBottom - (value - low) / (high - low) * (kHeight - kTop - kBottom); }
};

// Round steps of 1, 2 or 5 times a power of ten over the values' range.
Range nice_range(double low, double high, double& step) {
    if (high <= low) {
        low -= 1;
        high += 1;
    }
    const double raw = (high - low) / 4;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    step = raw / power <= 1 ? power : raw / power <= 2 ? 2 * power : raw / power <= 5 ? 5 * power : 10 * power;
    return {std::floor(low / step) * step, std::ceil(high / step) * step};
}

struct Series {
    const char* name;
    const char* css;
    std::vector<double> values;  // NAN: none for that wake (lines only)
};

std::string axes(const TimeAxis& time, const Range& range, double step, const char* unit) {
    std::string out = "<g class=\"axis\">";
    for (double value = range.low; value <= range.high + step / 2; value += step) {
        const std::string y = number(range.y(value));
        out += "<line x1=\"" + number(kLeft) + "\" x2=\"" + number(kWidth - kRight) + "\" y1=\"" + y + "\" y2=\"" + y +
               "\"/><text x=\"" + number(kLeft - 6) + "\" y=\"" + y + "\" text-anchor=\"end\" dy=\"4\">" +
               escaped(tick_text(value, step)) + "</text>";
    }
    constexpr int kTicks = 5;
    for (int i = 0; i <= kTicks; ++i) {
        const double value = time.low + (time.high - time.low) * i / kTicks;
        const double x = kLeft + (kWidth - kLeft - kRight) * i / kTicks;
        const char* anchor = i == 0 ? "start" : i == kTicks ? "end" : "middle";
        out += "<text x=\"" + number(x) + "\" y=\"" + number(kHeight - 8) + "\" text-anchor=\"" + anchor + "\">" +
               escaped(time.label(value)) + "</text>";
    }
    out += "<text x=\"4\" y=\"12\">" + escaped(unit) + "</text></g>";
    return out;
}

std::string chart_start(const char* id, const char* title) {
    return "<h2>" + std::string(title) + "</h2><svg id=\"" + id + "\" class=\"chart\" " +
           "width=\"" + number(kWidth) + "\" height=\"" + number(kHeight) + "\" viewBox=\"0 0 " + number(kWidth) + " " +
           number(kHeight) + "\">";
}

Range range_of(const std::vector<Series>& series, bool fromZero, double& step) {
    double low = fromZero ? 0 : INFINITY, high = fromZero ? 0 : -INFINITY;
    for (const Series& one : series)
        for (double value : one.values)
            if (!std::isnan(value)) {
                low = std::min(low, value);
                high = std::max(high, value);
            }
    if (std::isinf(low)) low = high = 0;
    return nice_range(low, high, step);
}

std::string point_title(const std::vector<Wake>& wakes, size_t i, const Series& series) {
    char value[32];
    std::snprintf(value, sizeof value, "%.4g", series.values[i]);
    return "<title>wake " + std::to_string(wakes[i].number) + ", " + escaped(wakes[i].start) + ": " + series.name +
           " " + value + "</title>";
}

std::string legend(const std::vector<Series>& series) {
    std::string out = "<g class=\"legend\">";
    double x = kWidth - kRight - 160.0 * static_cast<double>(series.size());
    for (const Series& one : series) {
        out += "<rect class=\"" + std::string(one.css) + "\" x=\"" + number(x) + "\" y=\"2\" width=\"10\" height=\"10\"/>" +
               "<text x=\"" + number(x + 14) + "\" y=\"11\">" + escaped(one.name) + "</text>";
        x += 160;
    }
    return out + "</g>";
}

// Lines with a dot per wake that has a value.
std::string line_chart(const char* id, const char* title, const char* unit, const TimeAxis& time,
                       const std::vector<Wake>& wakes, const std::vector<Series>& series) {
    double step = 1;
    const Range range = range_of(series, false, step);
    std::string out = chart_start(id, title) + axes(time, range, step, unit);
    for (const Series& one : series) {
        std::string points, dots;
        for (size_t i = 0; i < one.values.size(); ++i) {
            if (std::isnan(one.values[i])) continue;
            const std::string x = number(time.x(i)), y = number(range.y(one.values[i]));
            points += (points.empty() ? "" : " ") + x + "," + y;
            dots += "<circle class=\"" + std::string(one.css) + "\" cx=\"" + x + "\" cy=\"" + y + "\" r=\"3\">" +
                    point_title(wakes, i, one) + "</circle>";
        }
        out += "<polyline class=\"" + std::string(one.css) + "\" points=\"" + points + "\"/>" + dots;
    }
    return out + legend(series) + "</svg>";
}

// Bars per wake, the series side by side.
std::string bar_chart(const char* id, const char* title, const char* unit, const TimeAxis& time,
                      const std::vector<Wake>& wakes, const std::vector<Series>& series) {
    double step = 1;
    const Range range = range_of(series, true, step);
    std::string out = chart_start(id, title) + axes(time, range, step, unit);
    const double slot = (kWidth - kLeft - kRight) / static_cast<double>(wakes.size() + 1);
    const double width = std::max(1.0, std::min(12.0, slot * 0.8 / static_cast<double>(series.size())));
    for (size_t s = 0; s < series.size(); ++s) {
        const Series& one = series[s];
        for (size_t i = 0; i < one.values.size(); ++i) {
            const double top = range.y(one.values[i]), base = range.y(0);
            const double x = time.x(i) + width * (static_cast<double>(s) - static_cast<double>(series.size()) / 2);
            out += "<rect class=\"" + std::string(one.css) + "\" x=\"" + number(x) + "\" y=\"" + number(top) +
                   "\" width=\"" + number(width) + "\" height=\"" + number(base - top) + "\">" +
                   point_title(wakes, i, one) + "</rect>";
        }
    }
    return out + legend(series) + "</svg>";
}

template <typename Figure>
Series series_of(const char* name, const char* css, const std::vector<Wake>& wakes, Figure figure) {
    Series series{name, css, {}};
    for (const Wake& wake : wakes) series.values.push_back(figure(wake));
    return series;
}

std::string wake_table(const std::vector<Wake>& wakes) {
    std::string out = "<h2>Wakes</h2><table id=\"wakes\"><thead><tr>";
    for (const std::string& name : wake_columns()) out += "<th>" + escaped(name) + "</th>";
    out += "</tr></thead><tbody>";
    for (const Wake& wake : wakes) {
        out += wake.end == Wake::End::kPowerLost ? "<tr class=\"wake lost\">" : "<tr class=\"wake\">";
        for (const std::string& cell : wake_cells(wake)) out += "<td>" + escaped(cell) + "</td>";
        out += "</tr>";
    }
    return out + "</tbody></table>";
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1em 2em;color:#222}"
    "pre{background:#f4f4f4;padding:.6em}"
    ".chart{display:block;border:1px solid #ddd;margin-bottom:1em}"
    ".axis line{stroke:#e4e4e4}.axis text,.legend text{font-size:11px;fill:#555}"
    "polyline{fill:none;stroke-width:1.5}"
    "polyline.aa{stroke:#1f6fb4}circle.aa,rect.aa{fill:#1f6fb4}"
    "polyline.ext{stroke:#d9730d}circle.ext,rect.ext{fill:#d9730d}"
    "polyline.dbm{stroke:#2b8a3e}circle.dbm,rect.dbm{fill:#2b8a3e}"
    "rect.on{fill:#6741d9}rect.proc{fill:#adb5bd}rect.up{fill:#1f6fb4}"
    "table{border-collapse:collapse;font-size:12px}"
    "th,td{border:1px solid #ddd;padding:2px 6px;text-align:right;white-space:nowrap}"
    "td:nth-child(2),td:nth-child(7),td:last-child{text-align:left}"
    "tr.lost{background:#fff0f0}";

double known(double value) { return value < 0 ? NAN : value; }

}  // namespace

bool write_report_page(FILE* out, const char* title, const std::vector<Wake>& wakes, const LogTotals& totals) {
    const TimeAxis time(wakes);
    std::string page = "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>Event log: " +
                       escaped(title) + "</title><style>" + kStyle + "</style></head><body><h1>Event log: " +
                       escaped(title) + "</h1><pre id=\"totals\">" + escaped(totals_text(totals)) + "</pre>";
    std::fputs(page.c_str(), out);
    std::fputs(line_chart("chart-battery", "Battery", "volts", time, wakes,
                          {series_of("AA batteries", "aa", wakes, [](const Wake& w) { return known(w.battery); }),
                           series_of("external", "ext", wakes, [](const Wake& w) { return known(w.external); })})
                   .c_str(),
               out);
    std::fputs(line_chart("chart-signal", "Signal", "dBm", time, wakes,
                          {series_of("signal", "dbm", wakes, [](const Wake& w) {
                              return w.signalDbm != 0 ? static_cast<double>(w.signalDbm) : NAN;
                          })})
                   .c_str(),
               out);
    std::fputs(bar_chart("chart-on-time", "On-time per wake", "minutes", time, wakes,
                         {series_of("on-time", "on", wakes,
                                    [](const Wake& w) { return static_cast<double>(w.onSeconds) / 60.0; })})
                   .c_str(),
               out);
    std::fputs(bar_chart("chart-pictures", "Pictures per wake", "pictures", time, wakes,
                         {series_of("processed", "proc", wakes, [](const Wake& w) { return double(w.processed); }),
                          series_of("uploaded", "up", wakes, [](const Wake& w) { return double(w.uploaded); })})
                   .c_str(),
               out);
    std::fputs((wake_table(wakes) + "</body></html>\n").c_str(), out);
    return std::ferror(out) == 0;
}
