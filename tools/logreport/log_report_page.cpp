// The report as one page: the totals, charts over time and the wake table.
// However long the log, the page stays small and quick to draw: when the
// wakes outnumber the chart's pixels, each mark stands for a day (or a few),
// its band spanning the day's lowest to highest value around the median line,
// and the table shows the last wakes in full and earlier ones a row per day.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "tools/logreport/log_report.h"
#include "tools/logreport/page_parts.h"

namespace {

constexpr double kWidth = 900, kHeight = 220;
constexpr double kLeft = 60, kRight = 20, kTop = 24, kBottom = 30;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr int64_t kDay = 86400;
constexpr size_t kMostMarks =
    static_cast<size_t>(kPlotWidth);  // a mark per day, or per few days beyond a pixel a day
constexpr size_t kWakesInFull = 500;
constexpr size_t kDayRows = 1000, kMonthRows = 600;
constexpr double kGapInWakes = 4;  // a gap of more wakes' time than this breaks a line

// Consecutive wakes drawn as one mark: one wake, or the wakes of a day (or of
// a few days, or a run of wakes when the clock was never set).
struct Bucket {
    size_t first, last;  // wake indices, inclusive
    double x;            // on the time line
    std::string label;   // for hover texts
};

// The charts' time line and its marks.
struct TimeLine {
    bool byNumber = false;  // no wake had a set clock: wakes evenly spaced
    bool banded = false;
    double bucketLength = 0;  // banded: the time one mark stands for
    double low = 0, high = 1;
    double gapLimit = INFINITY;
    std::vector<Bucket> buckets;

    double x(double value) const { return kLeft + (value - low) / (high - low) * kPlotWidth; }
    std::string label(double value) const {
        if (byNumber) return "wake " + std::to_string(static_cast<long long>(std::lround(value)));
        return date_text(static_cast<int64_t>(value), high - low < 5.0 * kDay);
    }
};

double median_gap(const std::vector<int64_t>& times) {
    std::vector<int64_t> gaps;
    for (size_t i = 1; i < times.size(); ++i) gaps.push_back(times[i] - times[i - 1]);
    if (gaps.empty()) return 0;
    auto middle = gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2);
    std::nth_element(gaps.begin(), middle, gaps.end());
    return static_cast<double>(*middle);
}

TimeLine time_line(const std::vector<Wake>& wakes) {
    TimeLine line;
    const std::vector<int64_t> times = wake_times(wakes);
    line.byNumber = times.empty();
    line.banded = static_cast<double>(wakes.size()) > kPlotWidth;
    if (wakes.empty()) return line;
    if (!line.banded) {
        for (size_t i = 0; i < wakes.size(); ++i)
            line.buckets.push_back(
                {i, i, line.byNumber ? double(wakes[i].number) : double(times[i]),
                 "wake " + std::to_string(wakes[i].number) + ", " + wakes[i].start});
    } else if (line.byNumber) {
        const size_t run = (wakes.size() + kMostMarks - 1) / kMostMarks;
        for (size_t first = 0; first < wakes.size(); first += run) {
            const size_t last = std::min(wakes.size(), first + run) - 1;
            line.buckets.push_back({first, last, (wakes[first].number + wakes[last].number) / 2.0,
                                    "wakes " + std::to_string(wakes[first].number) + " to " +
                                        std::to_string(wakes[last].number)});
        }
    } else {
        const int64_t firstDay = times.front() / kDay;
        const int64_t days = times.back() / kDay - firstDay + 1;
        const int64_t span =
            (days + static_cast<int64_t>(kMostMarks) - 1) / static_cast<int64_t>(kMostMarks);
        line.bucketLength = static_cast<double>(span * kDay);
        int64_t lastKey = -1;
        for (size_t i = 0; i < wakes.size(); ++i) {
            const int64_t key = (times[i] / kDay - firstDay) / span;
            if (key == lastKey) {
                line.buckets.back().last = i;
                continue;
            }
            lastKey = key;
            const int64_t start = (firstDay + key * span) * kDay;
            line.buckets.push_back({i, i, static_cast<double>(start) + line.bucketLength / 2,
                                    date_text(start, false) +
                                        (span > 1 ? " (" + std::to_string(span) + " days)" : "")});
        }
    }
    if (!line.byNumber)
        line.gapLimit = std::max(line.banded ? 1.5 * line.bucketLength : 3600.0,
                                 kGapInWakes * median_gap(times));
    line.low = line.buckets.front().x - line.bucketLength / 2;
    line.high = line.buckets.back().x + line.bucketLength / 2;
    if (line.high <= line.low) {
        const double pad = line.byNumber ? 1.0 : static_cast<double>(kDay);
        line.low -= pad;
        line.high += pad;
    }
    return line;
}

// Lowest, median and highest value of a bucket's wakes; count 0: none.
struct Spread {
    double low = NAN, middle = NAN, high = NAN;
    size_t count = 0;
};

Spread spread_of(const std::vector<double>& values, const Bucket& bucket) {
    std::vector<double> known;
    for (size_t i = bucket.first; i <= bucket.last; ++i)
        if (!std::isnan(values[i])) known.push_back(values[i]);
    Spread spread;
    spread.count = known.size();
    if (known.empty()) return spread;
    auto middle = known.begin() + static_cast<std::ptrdiff_t>(known.size() / 2);
    std::nth_element(known.begin(), middle, known.end());
    spread.middle = *middle;
    auto [low, high] = std::minmax_element(known.begin(), known.end());
    spread.low = *low;
    spread.high = *high;
    return spread;
}

struct Series {
    const char* name;
    const char* css;
    std::vector<double> values;  // per wake; NAN: none
};

// What a chart shows of its values: volts, dBm, or durations as m:ss.
struct Scale {
    double low = 0, high = 1, step = 1;
    bool seconds = false;
    int decimals = 0;  // for hover texts

    double y(double value) const {
        return kHeight - kBottom - (value - low) / (high - low) * (kHeight - kTop - kBottom);
    }
    std::string tick(double value) const {
        if (seconds) return duration_text(static_cast<int64_t>(std::lround(value)));
        const int places = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", places,
                      std::fabs(value) < step / 1e6 ? 0.0 : value);
        return text;
    }
    std::string value(double v) const {
        if (seconds) return duration_text(static_cast<int64_t>(std::lround(v)));
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", decimals, v);
        return text;
    }
};

// Round steps over the values' range: 1, 2 or 5 times a power of ten, or,
// for durations, whole seconds and minutes a clock face would show.
Scale scale_of(const std::vector<Series>& series, bool seconds, int decimals, bool fromZero) {
    double low = fromZero ? 0 : INFINITY, high = fromZero ? 0 : -INFINITY;
    for (const Series& one : series)
        for (double value : one.values)
            if (!std::isnan(value)) {
                low = std::min(low, value);
                high = std::max(high, value);
            }
    if (std::isinf(low)) low = high = 0;
    if (high <= low) {
        low -= 1;
        high += 1;
    }
    Scale scale;
    scale.seconds = seconds;
    scale.decimals = decimals;
    const double raw = (high - low) / 4;
    if (seconds) {
        static constexpr double kSteps[] = {1,   2,   5,   10,   15,   30,   60,    120,
                                            300, 600, 900, 1800, 3600, 7200, 14400, 43200};
        scale.step = kSteps[std::size(kSteps) - 1];
        for (double step : kSteps)
            if (step >= raw) {
                scale.step = step;
                break;
            }
        while (scale.step < raw) scale.step *= 2;
    } else {
        const double power = std::pow(10.0, std::floor(std::log10(raw)));
        scale.step = raw / power <= 1   ? power
                     : raw / power <= 2 ? 2 * power
                     : raw / power <= 5 ? 5 * power
                                        : 10 * power;
    }
    scale.low = std::floor(low / scale.step) * scale.step;
    scale.high = std::ceil(high / scale.step) * scale.step;
    return scale;
}

std::string axes(const TimeLine& time, const Scale& scale, const char* unit) {
    std::string out = "<g class=\"axis\">";
    for (double value = scale.low; value <= scale.high + scale.step / 2; value += scale.step) {
        const std::string y = svg_number(scale.y(value));
        out += "<line x1=\"" + svg_number(kLeft) + "\" x2=\"" + svg_number(kWidth - kRight) +
               "\" y1=\"" + y + "\" y2=\"" + y + "\"/><text x=\"" + svg_number(kLeft - 6) +
               "\" y=\"" + y + "\" text-anchor=\"end\" dy=\"4\">" +
               html_escaped(scale.tick(value)) + "</text>";
    }
    constexpr int kTicks = 5;
    for (int i = 0; i <= kTicks; ++i) {
        const double value = time.low + (time.high - time.low) * i / kTicks;
        const double x = kLeft + kPlotWidth * i / kTicks;
        const char* anchor = i == 0 ? "start" : i == kTicks ? "end" : "middle";
        out += "<text x=\"" + svg_number(x) + "\" y=\"" + svg_number(kHeight - 8) +
               "\" text-anchor=\"" + anchor + "\">" + html_escaped(time.label(value)) + "</text>";
    }
    return out + "<text x=\"4\" y=\"12\">" + html_escaped(unit) + "</text></g>";
}

std::string chart_start(const char* id, const char* title) {
    return "<h2>" + std::string(title) + "</h2><svg id=\"" + id + "\" class=\"chart\" width=\"" +
           svg_number(kWidth) + "\" height=\"" + svg_number(kHeight) + "\" viewBox=\"0 0 " +
           svg_number(kWidth) + " " + svg_number(kHeight) + "\">";
}

// One line of the chart's legend: the series, then the kinds of marks.
std::string legend(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string out = "<g class=\"legend\">";
    double x = kWidth - kRight - 150.0 * static_cast<double>(entries.size());
    for (const auto& [name, css] : entries) {
        out += "<rect class=\"" + css + "\" x=\"" + svg_number(x) +
               "\" y=\"2\" width=\"10\" height=\"10\"/><text x=\"" + svg_number(x + 14) +
               "\" y=\"11\">" + html_escaped(name) + "</text>";
        x += 150;
    }
    return out + "</g>";
}

// A kind of failure marked above the wakes (or days) it happened in.
struct Marks {
    const char* name;  // "lost wakes"
    const char* css;
    const char* what;            // "lost its power", for a wake's hover text
    std::vector<bool> happened;  // per wake
};

std::string failure_marks(const TimeLine& time, const Marks& marks) {
    std::string out;
    for (const Bucket& bucket : time.buckets) {
        size_t count = 0;
        for (size_t i = bucket.first; i <= bucket.last; ++i) count += marks.happened[i] ? 1 : 0;
        if (count == 0) continue;
        const double x = time.x(bucket.x);
        const std::string text = time.banded ? bucket.label + ": " +
                                                   count_text(static_cast<int64_t>(count)) +
                                                   (count == 1 ? " wake " : " wakes ") + marks.what
                                             : bucket.label + ": " + marks.what;
        out += "<path class=\"mark " + std::string(marks.css) + "\" d=\"M" + svg_number(x - 4) +
               "," + svg_number(kTop - 8) + "h8l-4,7z\"><title>" + html_escaped(text) +
               "</title></path>";
    }
    return out;
}

// The failure marks, the legend of the series and the marks, and the chart's end.
std::string chart_end(const TimeLine& time, const std::vector<Series>& series,
                      const std::vector<Marks>& marks) {
    std::string out;
    std::vector<std::pair<std::string, std::string>> entries;
    for (const Series& one : series) entries.emplace_back(one.name, one.css);
    for (const Marks& kind : marks) {
        out += failure_marks(time, kind);
        entries.emplace_back(kind.name, kind.css);
    }
    return out + legend(entries) + "</svg>";
}

// The points of one series, split where the time line has a gap.
std::vector<std::vector<std::pair<size_t, Spread>>> runs_of(const TimeLine& time,
                                                            const Series& series) {
    std::vector<std::vector<std::pair<size_t, Spread>>> runs;
    double last = -INFINITY;
    for (size_t b = 0; b < time.buckets.size(); ++b) {
        const Spread spread = spread_of(series.values, time.buckets[b]);
        if (spread.count == 0) continue;
        if (runs.empty() || time.buckets[b].x - last > time.gapLimit) runs.emplace_back();
        runs.back().emplace_back(b, spread);
        last = time.buckets[b].x;
    }
    return runs;
}

// A line per series, broken at gaps. Each wake a dot with its value; in a
// banded chart each mark's band spans its lowest to highest value.
std::string line_chart(const char* id, const char* title, const char* unit, const TimeLine& time,
                       const std::vector<Series>& series, const Scale& scale,
                       const std::vector<Marks>& marks) {
    std::string out = chart_start(id, title) + axes(time, scale, unit);
    for (const Series& one : series) {
        for (const auto& run : runs_of(time, one)) {
            std::string line, band;
            for (const auto& [b, spread] : run) {
                const std::string x = svg_number(time.x(time.buckets[b].x));
                line += (line.empty() ? "" : " ") + x + "," + svg_number(scale.y(spread.middle));
                band += (band.empty() ? "" : " ") + x + "," + svg_number(scale.y(spread.high));
            }
            for (auto point = run.rbegin(); point != run.rend(); ++point)
                band += " " + svg_number(time.x(time.buckets[point->first].x)) + "," +
                        svg_number(scale.y(point->second.low));
            if (time.banded)
                out += "<polygon class=\"band " + std::string(one.css) + "\" points=\"" + band +
                       "\"/>";
            out += "<polyline class=\"" + std::string(one.css) + "\" points=\"" + line + "\"/>";
            if (time.banded) continue;
            for (const auto& [b, spread] : run)
                out += "<circle class=\"" + std::string(one.css) + "\" cx=\"" +
                       svg_number(time.x(time.buckets[b].x)) + "\" cy=\"" +
                       svg_number(scale.y(spread.middle)) + "\" r=\"3\"><title>" +
                       html_escaped(time.buckets[b].label + ": " + one.name + " " +
                                    scale.value(spread.middle)) +
                       "</title></circle>";
        }
    }
    // A banded chart's hover text is one per mark, over the whole height.
    for (const Bucket& bucket : time.banded ? time.buckets : std::vector<Bucket>()) {
        std::string text = bucket.label + ", " +
                           count_text(static_cast<int64_t>(bucket.last - bucket.first + 1)) +
                           " wakes";
        for (const Series& one : series) {
            const Spread spread = spread_of(one.values, bucket);
            if (spread.count > 0)
                text += "; " + std::string(one.name) + " " + scale.value(spread.low) + " to " +
                        scale.value(spread.high) + ", median " + scale.value(spread.middle);
        }
        out += "<rect class=\"day\" x=\"" + svg_number(time.x(bucket.x) - 1) + "\" y=\"" +
               svg_number(kTop) + "\" width=\"2\" height=\"" +
               svg_number(kHeight - kTop - kBottom) + "\"><title>" + html_escaped(text) +
               "</title></rect>";
    }
    return out + chart_end(time, series, marks);
}

// Bars side by side: per wake, or a mark's sum.
std::string bar_chart(const char* id, const char* title, const char* unit, const TimeLine& time,
                      const std::vector<Series>& series, const std::vector<Marks>& marks) {
    std::vector<Series> sums;
    for (const Series& one : series) {
        Series sum{one.name, one.css, {}};
        for (const Bucket& bucket : time.buckets) {
            double total = 0;
            for (size_t i = bucket.first; i <= bucket.last; ++i) total += one.values[i];
            sum.values.push_back(total);
        }
        sums.push_back(std::move(sum));
    }
    const Scale scale = scale_of(sums, false, 0, true);
    std::string out = chart_start(id, title) + axes(time, scale, unit);
    const double slot = kPlotWidth / static_cast<double>(time.buckets.size() + 1);
    const double width =
        std::max(1.0, std::min(12.0, slot * 0.8 / static_cast<double>(sums.size())));
    for (size_t s = 0; s < sums.size(); ++s) {
        for (size_t b = 0; b < time.buckets.size(); ++b) {
            const double top = scale.y(sums[s].values[b]), base = scale.y(0);
            const double x =
                time.x(time.buckets[b].x) +
                width * (static_cast<double>(s) - static_cast<double>(sums.size()) / 2);
            out += "<rect class=\"" + std::string(sums[s].css) + "\" x=\"" + svg_number(x) +
                   "\" y=\"" + svg_number(top) + "\" width=\"" + svg_number(width) +
                   "\" height=\"" + svg_number(base - top) + "\"><title>" +
                   html_escaped(time.buckets[b].label + ": " + sums[s].name + " " +
                                scale.value(sums[s].values[b])) +
                   "</title></rect>";
        }
    }
    return out + chart_end(time, sums, marks);
}

template <typename Figure>
Series series_of(const char* name, const char* css, const std::vector<Wake>& wakes, Figure figure) {
    Series series{name, css, {}};
    series.values.reserve(wakes.size());
    for (const Wake& wake : wakes) series.values.push_back(figure(wake));
    return series;
}

template <typename Test>
Marks marks_of(const char* name, const char* css, const char* what, const std::vector<Wake>& wakes,
               Test test) {
    Marks marks{name, css, what, {}};
    marks.happened.reserve(wakes.size());
    for (const Wake& wake : wakes) marks.happened.push_back(test(wake));
    return marks;
}

double known(double value) { return value < 0 ? NAN : value; }

std::string charts(const std::vector<Wake>& wakes) {
    const TimeLine time = time_line(wakes);
    const Marks lost = marks_of("lost wakes", "lost", "lost its power", wakes,
                                [](const Wake& w) { return w.end == Wake::End::kPowerLost; });
    const Marks noData = marks_of("failed data calls", "nodata", "without its data call", wakes,
                                  [](const Wake& w) { return w.dataFailed; });
    const Marks failedUploads = marks_of("failed uploads", "upfail", "with a failed upload", wakes,
                                         [](const Wake& w) { return w.uploadsFailed > 0; });
    const std::vector<Series> battery = {
        series_of("AA batteries", "aa", wakes, [](const Wake& w) { return known(w.battery); }),
        series_of("external", "ext", wakes, [](const Wake& w) { return known(w.external); })};
    const std::vector<Series> signal = {series_of("signal", "dbm", wakes, [](const Wake& w) {
        return w.signalDbm != 0 ? static_cast<double>(w.signalDbm) : NAN;
    })};
    const std::vector<Series> onTime = {series_of(
        "on-time", "on", wakes, [](const Wake& w) { return static_cast<double>(w.onSeconds); })};
    const std::vector<Series> pictures = {
        series_of("processed", "proc", wakes, [](const Wake& w) { return double(w.processed); }),
        series_of("uploaded", "up", wakes, [](const Wake& w) { return double(w.uploaded); })};
    const std::string per =
        !time.banded    ? "per wake"
        : time.byNumber ? "per run of wakes"
        : time.bucketLength > kDay
            ? "per " + std::to_string(std::lround(time.bucketLength / kDay)) + " days"
            : "per day";
    return line_chart("chart-battery", "Battery", "volts", time, battery,
                      scale_of(battery, false, 2, false), {lost}) +
           line_chart("chart-signal", "Signal", "dBm", time, signal,
                      scale_of(signal, false, 0, false), {noData}) +
           line_chart("chart-on-time", ("On-time " + per).c_str(), "m:ss", time, onTime,
                      scale_of(onTime, true, 0, true), {}) +
           bar_chart("chart-pictures", ("Pictures " + per).c_str(), "pictures", time, pictures,
                     {failedUploads});
}

// ---- The table -----------------------------------------------------------

std::string wake_rows(const std::vector<Wake>& wakes, size_t from) {
    std::string out = "<table class=\"wakes\"><thead><tr>";
    for (const std::string& name : wake_columns()) out += "<th>" + html_escaped(name) + "</th>";
    out += "</tr></thead><tbody>";
    for (size_t i = from; i < wakes.size(); ++i) {
        out += wakes[i].end == Wake::End::kPowerLost ? "<tr class=\"wake lost\">"
                                                     : "<tr class=\"wake\">";
        for (const std::string& cell : wake_cells(wakes[i]))
            out += "<td>" + html_escaped(cell) + "</td>";
        out += "</tr>";
    }
    return out + "</tbody></table>";
}

// Earlier wakes summed up a row per period: the newest days one by one, then months.
struct Period {
    std::string name;
    size_t first, last;
};

std::vector<Period> periods(const std::vector<Wake>& wakes, size_t count) {
    std::vector<Period> out;
    size_t days = 0;
    for (size_t i = count; i-- > 0;) {
        const std::string& start = wakes[i].start;
        const bool byDay = days < kDayRows || out.empty();
        const std::string name = byDay                                 ? start.substr(0, 10)
                                 : out.size() >= kDayRows + kMonthRows ? "earlier"
                                                                       : start.substr(0, 7);
        if (!out.empty() && out.back().name == name) {
            out.back().first = i;
            continue;
        }
        if (name.size() == 10) ++days;
        out.push_back({name, i, i});
    }
    std::reverse(out.begin(), out.end());
    return out;
}

std::string period_row(const std::vector<Wake>& wakes, const Period& period) {
    int lost = 0, noData = 0, failed = 0, processed = 0, uploaded = 0, uploadsFailed = 0,
        requests = 0, updates = 0, errors = 0;
    double aaLow = INFINITY, aaHigh = -INFINITY;
    std::vector<int64_t> onTimes;
    std::string firstError;
    for (size_t i = period.first; i <= period.last; ++i) {
        const Wake& w = wakes[i];
        lost += w.end == Wake::End::kPowerLost;
        noData += !w.dataUp;
        failed += w.dataFailed;
        processed += w.processed;
        uploaded += w.uploaded;
        uploadsFailed += w.uploadsFailed;
        requests += w.requests;
        updates += w.updates;
        errors += w.errors;
        onTimes.push_back(w.onSeconds);
        if (w.battery >= 0) {
            aaLow = std::min(aaLow, w.battery);
            aaHigh = std::max(aaHigh, w.battery);
        }
        if (firstError.empty()) firstError = w.firstError;
    }
    std::nth_element(onTimes.begin(),
                     onTimes.begin() + static_cast<std::ptrdiff_t>(onTimes.size() / 2),
                     onTimes.end());
    char aa[32] = "-";
    if (aaHigh >= 0) std::snprintf(aa, sizeof aa, "%.2f to %.2f", aaLow, aaHigh);
    const std::vector<std::string> cells = {
        period.name,
        count_text(static_cast<int64_t>(period.last - period.first + 1)),
        std::to_string(lost),
        std::to_string(noData) + " (" + std::to_string(failed) + ")",
        duration_text(onTimes[onTimes.size() / 2]),
        aa,
        std::to_string(processed),
        std::to_string(uploaded),
        std::to_string(uploadsFailed),
        std::to_string(requests),
        std::to_string(updates),
        std::to_string(errors),
        firstError};
    std::string out = "<tr class=\"period\">";
    for (const std::string& cell : cells) out += "<td>" + html_escaped(cell) + "</td>";
    return out + "</tr>";
}

std::string wake_table(const std::vector<Wake>& wakes) {
    if (wakes.size() <= kWakesInFull)
        return "<h2>Wakes</h2><div class=\"scroll\">" + wake_rows(wakes, 0) + "</div>";
    const size_t earlier = wakes.size() - kWakesInFull;
    const std::vector<Period> rows = periods(wakes, earlier);
    const bool months = rows.front().name.size() != 10;
    std::string out =
        "<h2>Wakes</h2><details id=\"earlier\"><summary>Wakes 1 to " +
        count_text(static_cast<int64_t>(earlier)) + ", a row per day" +
        (months ? " of the last " + count_text(kDayRows) + " days, per month before" : "") +
        "</summary><div class=\"scroll\"><table class=\"periods\"><thead><tr>";
    for (const char* name : {"period", "wakes", "lost", "no data (failed)", "median on", "AA",
                             "proc", "up", "fail", "req", "upd", "err", "first error"})
        out += "<th>" + std::string(name) + "</th>";
    out += "</tr></thead><tbody>";
    for (const Period& period : rows) out += period_row(wakes, period);
    out += "</tbody></table></div></details><h3>The last " +
           count_text(static_cast<int64_t>(kWakesInFull)) + " wakes</h3><div class=\"scroll\">";
    return out + wake_rows(wakes, earlier) + "</div>";
}

}  // namespace

bool write_report_page(FILE* out, const char* title, const std::vector<Wake>& wakes,
                       const LogTotals& totals) {
    const std::string page = page_start("Event log: " + std::string(title)) +
                             "<pre id=\"totals\">" + html_escaped(totals_text(totals)) + "</pre>" +
                             charts(wakes) + wake_table(wakes) + "</body></html>\n";
    return std::fwrite(page.data(), 1, page.size(), out) == page.size() && std::ferror(out) == 0;
}
