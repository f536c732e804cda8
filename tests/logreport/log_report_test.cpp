#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "log_report.h"

namespace {

struct Read {
    std::vector<Wake> wakes;
    LogTotals totals;
};

// The log fed in pieces of `piece` bytes (0: at once).
Read read_log(const std::string& log, size_t piece = 0) {
    Read read;
    LogReport report([&](const Wake& wake) { read.wakes.push_back(wake); });
    for (size_t at = 0; at < log.size(); at += piece == 0 ? log.size() : piece)
        report.add(log.data() + at, std::min(log.size() - at, piece == 0 ? log.size() : piece));
    read.totals = report.finish();
    return read;
}

const char* end_name(Wake::End end) {
    return end == Wake::End::kPowerdown ? "off" : end == Wake::End::kReboot ? "reboot" : "lost";
}

std::string figures(const Wake& w) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "on %lld %s data %lld%s slot %d %s %s/%s %s dBm %d AA %.2f ext %.2f proc %d up %d fail %d req %d "
                  "err %d [%s] jumps %d",
                  static_cast<long long>(w.onSeconds), end_name(w.end), static_cast<long long>(w.dataSeconds),
                  w.dataUp ? " up" : "", w.simSlot, w.iccid.c_str(), w.mcc.c_str(), w.mnc.c_str(), w.radio.c_str(),
                  w.signalDbm, w.battery, w.external, w.processed, w.uploaded, w.uploadsFailed, w.requests, w.errors,
                  w.firstError.c_str(), w.clockJumps);
    std::string out = text;
    for (size_t at; (at = out.find("  ")) != std::string::npos && at < out.find('[');) out.erase(at, 1);
    return out;
}

std::string totals_figures(const LogTotals& t) {
    std::string out = "wakes " + std::to_string(t.wakes) + " lost " + std::to_string(t.powerLost) + " no data " +
                      std::to_string(t.withoutDataCall) + " up " + std::to_string(t.picturesUploaded) + " median " +
                      std::to_string(t.medianOnSeconds) + " longest " + std::to_string(t.longestOnSeconds) +
                      " jumps " + std::to_string(t.clockJumps) + " unreadable " + std::to_string(t.unreadable);
    for (const DamagedLines& damaged : t.damaged)
        for (int64_t line : damaged.first) out += std::string(" ") + damaged.what + "@" + std::to_string(line);
    for (const std::string& tag : t.unknownTags) out += " tag " + tag;
    if (!t.topErrors.empty()) out += " top " + t.topErrors[0].first + " x" + std::to_string(t.topErrors[0].second);
    return out;
}

const std::string kCleanWake =
    "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
    "2024-05-07 09:03:00;status;0;AA: 6.12v\r\n"
    "2024-05-07 09:03:00;status;0;Ext: 12.5v\r\n"
    "2024-05-07 09:03:02;cellular;0;ICCID (slot #0): 8944500102198304826\r\n"
    "2024-05-07 09:03:05;sim;1;Switch sim card slot: 1\r\n"
    "2024-05-07 09:03:06;cellular;0;ICCID (slot #1): 8931000000000000002\r\n"
    "2024-05-07 09:03:08;cellular;0;Signal type: LTE\r\n"
    "2024-05-07 09:03:10;Data;0;Data activated\r\n"
    "2024-05-07 09:03:20;process;0;Picture processed: 3\r\n"
    "2024-05-07 09:03:21;cellular;0;Signal strength: -95\r\n"
    "2024-05-07 09:03:22;cellular;0;MCC: 234 MNC: 50\r\n"
    "2024-05-07 09:03:22;status;0;{ \"sim\": \"8931000000000000002\", \"signal\": { } }\r\n"
    "2024-05-07 09:03:23;upload;0;Picture to upload: 3\r\n"
    "2024-05-07 09:03:25;sync;2;File transfer failed for PICT0002.JPG: 403; kept for the next sync\r\n"
    "2024-05-07 09:03:26;log;0;Log request\r\n"
    "2024-05-07 09:03:30;main;0;Modem powerdown\r\n";

struct Case {
    const char* name;
    std::string log;
    std::vector<std::string> wakes;
    std::string totals;
};

const Case kCases[] = {
    {"clean wake", kCleanWake,
     {"on 30 off data 10 up slot 1 8931000000000000002 234/50 LTE dBm -95 AA 6.12 ext 12.50 proc 3 up 2 fail 1 "
      "req 1 err 1 [sync: File transfer failed for PICT0002.JPG: 403; kept for the next sync] jumps 0"},
     "wakes 1 lost 0 no data 0 up 2 median 30 longest 30 jumps 0 unreadable 0 "
     "top sync: File transfer failed for PICTN.JPG: N; kept for the next sync x1"},
    {"power lost mid-line, the next wake on the same line",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:04;Data;2;Data call failure\r\n"
     "2024-05-07 09:03:09;process;0;Picture proc2024-05-08 07:00:00;main;0;Modem power-on\r\n"
     "2024-05-08 07:00:03;main;0;Modem powerdown\r\n",
     {"on 9 lost data 4 slot -1 / dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 err 1 [Data: Data call failure] "
      "jumps 0",
      "on 3 off data -1 slot -1 / dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 err 0 [] jumps 0"},
     "wakes 2 lost 1 no data 2 up 0 median 9 longest 9 jumps 0 unreadable 1 cut by a power loss@3 "
     "top Data: Data call failure x1"},
    {"network time forwards, a zone backwards",
     "2000-01-01 00:00:05;main;0;Modem power-on\r\n"
     "2000-01-01 00:00:15;Data;0;Data activated\r\n"
     "2024-05-07 09:03:20;sync;0;Start cellular transfert\r\n"
     "2024-05-07 09:03:30;main;0;Modem powerdown\r\n"
     "2024-05-07 12:00:00;main;0;Modem power-on\r\n"
     "2024-05-07 12:00:10;sync;0;Start cellular transfert\r\n"
     "2024-05-07 11:00:12;sync;0;End cellular transfert\r\n"
     "2024-05-07 11:00:20;main;0;Modem powerdown\r\n",
     {"on 20 off data 10 up slot -1 / dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 err 0 [] jumps 1",
      "on 18 off data -1 slot -1 / dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 err 0 [] jumps 1"},
     "wakes 2 lost 0 no data 1 up 0 median 20 longest 20 jumps 2 unreadable 0"},
    {"NUL runs, a half line and stray bytes",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:05;status;0;AA: 6.0v\r\n"
     "2024-05-07 09:03:06;upload;0;Picture to up" + std::string(50, '\0') + "\n" + std::string(20, '\0') +
         "2024-05-08 07:00:00;main;0;Modem power-on\r\n"
         "\x1b\x7f\xfe\x01garbage\r\n"
         "2024-05-08 07:00:02;status;0;Ext: 11.9v\r\n"
         "2024-05-08 07:00:04;main;0;Modem powerdown\r\n",
     {"on 6 lost data -1 slot -1 / dBm 0 AA 6.00 ext -1.00 proc 0 up 0 fail 0 req 0 err 0 [] jumps 0",
      "on 4 off data -1 slot -1 / dBm 0 AA -1.00 ext 11.90 proc 0 up 0 fail 0 req 0 err 0 [] jumps 0"},
     "wakes 2 lost 1 no data 2 up 0 median 6 longest 6 jumps 0 unreadable 3 cut by a power loss@3 NUL bytes@3 "
     "NUL bytes@4 stray bytes@5"},
    {"an entry over three lines",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:01;AT;0;\r\n"
     "+QENG: \"servingcell\",\"NOCONN\"\r\n"
     "OK\r\n"
     "2024-05-07 09:03:02;AT;2;\r\n"
     "ERROR\r\n"
     "\r\n"
     "2024-05-07 09:03:04;main;0;Modem powerdown\r\n",
     {"on 4 off data -1 slot -1 / dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 err 1 [AT: ] jumps 0"},
     "wakes 1 lost 0 no data 1 up 0 median 4 longest 4 jumps 0 unreadable 0 top AT:  x1"},
    {"an unknown tag and a malformed entry",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:01;weird;2;Modem powerdown\r\n"
     "2024-05-07 09:03:02;Data;x;Data activated\r\n"
     "2024-05-07 09:03:03;Data;0;Data activated\r\n"
     "2024-05-07 09:03:04;main;0;Modem powerdown\r\n",
     {"on 4 off data 3 up slot -1 / dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 err 1 "
      "[weird: Modem powerdown] jumps 0"},
     "wakes 1 lost 0 no data 0 up 0 median 4 longest 4 jumps 0 unreadable 1 malformed entry@3 tag weird "
     "top weird: Modem powerdown x1"},
};

TEST(LogReport, WakesAndTotalsOfLogsAsFound) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const Read read = read_log(c.log);
        std::vector<std::string> wakes;
        for (const Wake& wake : read.wakes) wakes.push_back(figures(wake));
        EXPECT_EQ(wakes, c.wakes);
        EXPECT_EQ(totals_figures(read.totals), c.totals);
    }
}

// Random damage: random bytes, cuts and NUL runs in a real log, fed in random
// pieces. The report never crashes, gives the same result whatever the pieces,
// and no wake gets a negative time.
TEST(LogReport, RandomDamageIsReadTheSameInAnyPieces) {
    std::mt19937 random(19);
    std::string base;
    for (int i = 0; i < 4; ++i) base += kCleanWake + kCases[1].log + kCases[3].log;
    for (int round = 0; round < 300; ++round) {
        std::string log = base;
        for (int change = 0; change < 8; ++change) {
            const size_t at = random() % log.size();
            switch (random() % 4) {
            case 0: log.erase(at, random() % 80); break;
            case 1: log.insert(at, std::string(random() % 600, '\0')); break;
            case 2: log[at] = static_cast<char>(random()); break;
            default:
                for (size_t i = 0; i < 30 && at + i < log.size(); ++i) log[at + i] = static_cast<char>(random());
            }
        }
        const Read whole = read_log(log), pieces = read_log(log, 1 + random() % 97);
        ASSERT_EQ(whole.wakes.size(), pieces.wakes.size());
        for (size_t i = 0; i < whole.wakes.size(); ++i) {
            EXPECT_EQ(figures(whole.wakes[i]), figures(pieces.wakes[i]));
            EXPECT_GE(whole.wakes[i].onSeconds, 0);
            EXPECT_LE(whole.wakes[i].dataSeconds, whole.wakes[i].onSeconds);
        }
        EXPECT_EQ(totals_text(whole.totals), totals_text(pieces.totals));
        FILE* sink = std::fopen("/dev/null", "we");
        ASSERT_NE(sink, nullptr);
        EXPECT_TRUE(write_report_page(sink, "fuzz", whole.wakes, whole.totals));
        std::fclose(sink);
    }
}

}  // namespace
