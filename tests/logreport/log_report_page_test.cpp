#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "tools/logreport/fleet.h"
#include "tools/logreport/log_report.h"
#include "sim/sim_files.h"
#include "tests/support/test_root.h"

namespace {

// 20,000 wakes, 80 a day over 250 days with ten days without a wake after
// the hundredth; on day 10 a wake loses its power, on day 20 one has no data
// call, and among the last wakes one fails an upload with a long text that
// holds markup.
std::string long_log() {
    std::string log;
    char stamp[32];
    auto entry = [&](int64_t at, const char* text) {
        const time_t when = static_cast<time_t>(at);
        tm fields{};
        gmtime_r(&when, &fields);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S;", &fields);
        log += stamp + std::string(text) + "\r\n";
    };
    for (int wake = 0; wake < 20000; ++wake) {
        const int day = wake / 80 + (wake / 80 >= 100 ? 10 : 0);
        const int64_t at = 1704067200 + day * 86400 + (wake % 80) * 1080;
        entry(at, "main;0;Modem power-on");
        entry(at + 1, wake % 2 ? "status;0;AA: 6.10v" : "status;0;AA: 5.90v");
        entry(at + 2, wake == 20 * 80 ? "Data;2;Profile index 3 start data call failure: 0x0" : "Data;0;Data activated");
        entry(at + 3, "cellular;0;Signal strength: -95");
        entry(at + 4, "upload;0;Picture to upload: 1");
        if (wake == 19800)
            entry(at + 5, ("sync;2;File transfer failed for <b>PICT0001.JPG</b>: 403; kept for the next sync" +
                           std::string(8, ' ') + std::string(60, 'x')).c_str());
        if (wake != 10 * 80) entry(at + 25 + wake % 40, "main;0;Modem powerdown");
    }
    return log;
}

std::string chart(const std::string& dom, const std::string& id) {
    const size_t start = dom.find("id=\"" + id + "\"");
    return start == std::string::npos ? "" : dom.substr(start, dom.find("</svg>", start) - start);
}

// Debian's chromium, headless and offline, with a script of the test's own
// that counts what lies right of the window; the DOM as it drew it.
std::string dom_of(const std::string& folder, const std::string& page) {
    std::string html = sim_read_file(folder + "/" + page);
    html.insert(html.rfind("</body>"),
                "<script>let out = 0; for (const e of document.querySelectorAll('body *')) "
                "if (e.getBoundingClientRect().right > innerWidth) ++out; document.title = 'outside ' + out;</script>");
    sim_write_file(folder + "/shown.html", html);
    const std::string command = "chromium --headless --no-sandbox --disable-gpu --no-first-run --window-size=1280,900 "
                                "--disable-background-networking --disable-component-update --user-data-dir=" +
                                folder + "/profile --dump-dom file://" + folder + "/shown.html 2>/dev/null";
    FILE* browser = popen(command.c_str(), "r");
    std::string dom;
    char buffer[65536];
    for (size_t got; browser != nullptr && (got = std::fread(buffer, 1, sizeof buffer, browser)) > 0;) dom.append(buffer, got);
    const int status = browser != nullptr ? pclose(browser) : -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "chromium did not run (scripts/deps.sh tests)";
    return dom;
}

TEST(LogReportPage, YearsOfWakesDrawnADayAMarkInsideThePage) {
    TestRoot root;
    const std::string folder = root.root();
    std::vector<Wake> wakes;
    LogReport report([&](const Wake& wake) { wakes.push_back(wake); });
    const std::string log = long_log();
    report.add(log.data(), log.size());
    const LogTotals& totals = report.finish();
    FILE* page = std::fopen((folder + "/log.txt.html").c_str(), "we");
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(write_report_page(page, "log.txt", wakes, totals));
    std::fclose(page);
    EXPECT_LT(sim_read_file(folder + "/log.txt.html").size(), 2000000u);

    const std::string dom = dom_of(folder, "log.txt.html");
    EXPECT_NE(dom.find("<title>outside 0</title>"), std::string::npos);
    for (const char* id : {"chart-battery", "chart-signal", "chart-on-time"})
        EXPECT_EQ(count_of(chart(dom, id), "<rect class=\"day\""), 250u) << id;
    EXPECT_EQ(count_of(chart(dom, "chart-battery"), "<polyline"), 2u);  // broken across the ten days
    EXPECT_EQ(count_of(chart(dom, "chart-battery"), "class=\"mark lost\""), 1u);
    EXPECT_EQ(count_of(chart(dom, "chart-signal"), "class=\"mark nodata\""), 1u);
    EXPECT_EQ(count_of(chart(dom, "chart-pictures"), "class=\"mark upfail\""), 1u);
    EXPECT_NE(chart(dom, "chart-battery").find("AA batteries 5.90 to 6.10, median 6.10"), std::string::npos);
    EXPECT_TRUE(std::regex_search(chart(dom, "chart-on-time"), std::regex("on-time 0:25 to 1:04, median 0:4\\d<")));
    EXPECT_EQ(count_of(dom, "<tr class=\"wake\">") + count_of(dom, "<tr class=\"wake lost\">"), 500u);
    EXPECT_EQ(count_of(dom, "<tr class=\"period\">"), 244u);  // the days before the last 500 wakes
    EXPECT_NE(dom.find("File transfer failed for &lt;b&gt;PICT0001.JPG&lt;/b&gt;"), std::string::npos);
    EXPECT_EQ(dom.find(" src="), std::string::npos);
    EXPECT_EQ(dom.find(" href="), std::string::npos);

    // The fleet's page: the camera's battery line, and a link to its page.
    std::vector<Camera> fleet = {camera_of("log.txt", wakes, totals)};
    fleet[0].page = "log.txt.html";
    page = std::fopen((folder + "/fleet.html").c_str(), "we");
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(write_fleet_page(page, "cameras", fleet));
    std::fclose(page);
    const std::string fleetDom = dom_of(folder, "fleet.html");
    EXPECT_NE(fleetDom.find("<title>outside 0</title>"), std::string::npos);
    EXPECT_NE(fleetDom.find("<a href=\"log.txt.html\">log.txt</a>"), std::string::npos);
    EXPECT_TRUE(std::regex_search(fleetDom, std::regex("class=\"spark\"[\\s\\S]*<polyline points=\"[\\d.]+,[\\d.]+ ")));
}

}  // namespace
