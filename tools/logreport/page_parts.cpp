#include "tools/logreport/page_parts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1em 2em;color:#222}"
    "pre{background:#f4f4f4;padding:.6em;white-space:pre-wrap;overflow-wrap:anywhere}"
    ".chart{display:block;border:1px solid #ddd;margin-bottom:1em;"
    "width:100%;max-width:900px;height:auto}"
    ".axis line{stroke:#e4e4e4}.axis text,.legend text{font-size:11px;fill:#555}"
    "polyline{fill:none;stroke-width:1.5}.band{stroke:none;opacity:.25}"
    "polyline.aa{stroke:#1f6fb4}circle.aa,rect.aa,.band.aa{fill:#1f6fb4}"
    "polyline.ext{stroke:#d9730d}circle.ext,rect.ext,.band.ext{fill:#d9730d}"
    "polyline.dbm{stroke:#2b8a3e}circle.dbm,rect.dbm,.band.dbm{fill:#2b8a3e}"
    "polyline.on{stroke:#6741d9}circle.on,rect.on,.band.on{fill:#6741d9}"
    "rect.proc{fill:#adb5bd}rect.up{fill:#1f6fb4}"
    ".mark.lost,rect.lost{fill:#c92a2a}.mark.nodata,rect.nodata{fill:#e8590c}"
    ".mark.upfail,rect.upfail{fill:#862e9c}"
    "rect.day{fill:transparent}rect.day:hover{fill:rgba(0,0,0,.12)}"
    ".spark{vertical-align:middle}.spark polyline{stroke:#1f6fb4}"
    ".scroll{overflow-x:auto;max-width:100%}summary{cursor:pointer;margin:.5em 0}"
    "table{border-collapse:collapse;font-size:12px}"
    "th,td{border:1px solid #ddd;padding:2px 6px;text-align:right;white-space:nowrap}"
    "table.wakes td:nth-child(2),table.wakes td:nth-child(7),td:first-child.name,"
    "th:last-child,td:last-child{text-align:left}"
    "td:last-child{white-space:normal;min-width:16em;overflow-wrap:anywhere}"
    "tr.lost{background:#fff0f0}";

}  // namespace

std::string html_escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string page_start(const std::string& title) {
    return "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
           html_escaped(title) + "</title><style>" + kStyle + "</style></head><body><h1>" +
           html_escaped(title) + "</h1>";
}

std::string svg_number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string date_text(int64_t seconds, bool withTime) {
    const time_t when = static_cast<time_t>(seconds);
    tm fields{};
    gmtime_r(&when, &fields);
    char text[32];
    std::strftime(text, sizeof text, withTime ? "%m-%d %H:%M" : "%Y-%m-%d", &fields);
    return text;
}

std::string sparkline(const std::vector<int64_t>& times, const std::vector<double>& values,
                      int64_t from, int64_t to, double low, double high, const std::string& title) {
    constexpr double kSparkWidth = 120, kSparkHeight = 24;
    std::string points;
    const double range = std::max(high - low, 0.05);
    for (size_t i = 0; i < values.size() && i < times.size() && to > from; ++i) {
        if (std::isnan(values[i]) || times[i] < from) continue;
        const double x = static_cast<double>(times[i] - from) / static_cast<double>(to - from) *
                             (kSparkWidth - 2) +
                         1;
        const double y = kSparkHeight - 2 - (values[i] - low) / range * (kSparkHeight - 4);
        points += (points.empty() ? "" : " ") + svg_number(x) + "," + svg_number(y);
    }
    return "<svg class=\"spark\" width=\"" + svg_number(kSparkWidth) + "\" height=\"" +
           svg_number(kSparkHeight) + "\" viewBox=\"0 0 " + svg_number(kSparkWidth) + " " +
           svg_number(kSparkHeight) + "\"><title>" + html_escaped(title) +
           "</title><polyline points=\"" + points + "\"/></svg>";
}
