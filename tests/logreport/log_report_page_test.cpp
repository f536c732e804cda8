#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "log_report.h"
#include "sim_files.h"
#include "test_root.h"

namespace {

// Three wakes: one complete, one cut by a power loss whose error text holds
// markup, one without a signal reading.
const std::string kLog =
    "2024-05-01 07:00:00;main;0;Modem power-on\r\n"
    "2024-05-01 07:00:01;status;0;AA: 6.12v\r\n"
    "2024-05-01 07:00:01;status;0;Ext: 12.5v\r\n"
    "2024-05-01 07:00:20;cellular;0;Signal strength: -95\r\n"
    "2024-05-01 07:00:30;process;0;Picture processed: 3\r\n"
    "2024-05-01 07:00:40;upload;0;Picture to upload: 3\r\n"
    "2024-05-01 07:01:00;main;0;Modem powerdown\r\n"
    "2024-05-02 07:00:00;main;0;Modem power-on\r\n"
    "2024-05-02 07:00:01;status;0;AA: 5.90v\r\n"
    "2024-05-02 07:00:20;cellular;0;Signal strength: -101\r\n"
    "2024-05-02 07:00:30;sync;2;File transfer failed for <script>alert(1)</script>: 403\r\n"
    "2024-05-03 07:00:00;main;0;Modem power-on\r\n"
    "2024-05-03 07:00:01;status;0;AA: 5.80v\r\n"
    "2024-05-03 07:00:01;status;0;Ext: 12.1v\r\n"
    "2024-05-03 07:02:00;main;0;Modem powerdown\r\n";

// The element with this id, up to the end of its chart.
std::string chart(const std::string& dom, const std::string& id) {
    const size_t start = dom.find("id=\"" + id + "\"");
    if (start == std::string::npos) return "";
    return dom.substr(start, dom.find("</svg>", start) - start);
}

// Debian's chromium, headless, loads the page offline; its DOM and its console.
TEST(LogReportPage, ChromiumShowsTheChartsAndTheTableAsDrawn) {
    TestRoot root;  // a folder of its own, removed afterwards
    const std::string folder = root.root();
    std::vector<Wake> wakes;
    LogReport report([&](const Wake& wake) { wakes.push_back(wake); });
    report.add(kLog.data(), kLog.size());
    const LogTotals& totals = report.finish();
    FILE* page = std::fopen((folder + "/report.html").c_str(), "we");
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(write_report_page(page, "log.txt", wakes, totals));
    std::fclose(page);

    const std::string command =
        "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync --user-data-dir=" +
        folder + "/profile --enable-logging=stderr --v=0 --dump-dom file://" + folder + "/report.html 2>" + folder +
        "/console.txt";
    FILE* browser = popen(command.c_str(), "r");
    ASSERT_NE(browser, nullptr);
    std::string dom;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, browser)) > 0;) dom.append(buffer, got);
    const int status = pclose(browser);
    const std::string console = sim_read_file(folder + "/console.txt");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "chromium did not run (scripts/deps.sh tests installs it): " << console;

    EXPECT_EQ(console.find(":CONSOLE"), std::string::npos) << console;
    EXPECT_EQ(count_of(dom, "<tr class=\"wake\">"), 2u);
    EXPECT_EQ(count_of(dom, "<tr class=\"wake lost\">"), 1u);
    EXPECT_EQ(count_of(chart(dom, "chart-battery"), "<circle"), 5u);  // three AA readings, two external
    EXPECT_EQ(count_of(chart(dom, "chart-battery"), "<polyline"), 2u);
    EXPECT_EQ(count_of(chart(dom, "chart-signal"), "<circle"), 2u);
    EXPECT_EQ(count_of(chart(dom, "chart-on-time"), "</title></rect>"), 3u);
    EXPECT_EQ(count_of(chart(dom, "chart-pictures"), "</title></rect>"), 6u);
    // Log text stays text, and nothing is fetched from elsewhere.
    EXPECT_NE(dom.find("File transfer failed for &lt;script&gt;alert(1)&lt;/script&gt;: 403"), std::string::npos);
    EXPECT_EQ(dom.find("<script"), std::string::npos);
    EXPECT_EQ(dom.find(" src="), std::string::npos);
    EXPECT_EQ(dom.find(" href="), std::string::npos);
}

}  // namespace
