#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tools/logreport/fleet.h"
#include "tools/logreport/log_report.h"

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
                  "on %lld %s data %s slot %d %s %s dBm %d AA %.2f ext %.2f proc %d up %d fail %d req %d upd %s "
                  "err %d [%s] jumps %d",
                  static_cast<long long>(w.onSeconds), end_name(w.end), data_text(w).c_str(), w.simSlot,
                  w.iccid.c_str(), wake_cells(w)[7].c_str(), w.signalDbm, w.battery, w.external, w.processed,
                  w.uploaded, w.uploadsFailed, w.requests, updates_text(w).c_str(), w.errors, w.firstError.c_str(),
                  w.clockJumps);
    std::string out = text;
    for (size_t at; (at = out.find("  ")) != std::string::npos && at < out.find('[');) out.erase(at, 1);
    return out;
}

std::string totals_figures(const LogTotals& t) {
    std::string out = "wakes " + std::to_string(t.wakes) + " lost " + std::to_string(t.powerLost) + " no data " +
                      std::to_string(t.withoutDataCall) + " failed " + std::to_string(t.dataCallFailed) + " up " +
                      std::to_string(t.picturesUploaded) + " median " + std::to_string(t.medianOnSeconds) +
                      " longest " + std::to_string(t.longestOnSeconds) + " jumps " + std::to_string(t.clockJumps);
    for (const Damage& damage : t.damage)
        if (damage.count > 0)
            out += std::string(" ") + damage.what + " " + std::to_string(damage.count) + "@" +
                   std::to_string(damage.firstLines[0]);
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
     {"on 30 off data 0:10 slot 1 8931000000000000002 234/50 LTE dBm -95 AA 6.12 ext 12.50 proc 3 up 2 fail 1 "
      "req 1 upd 0 err 1 [sync: File transfer failed for PICT0002.JPG: 403; kept for the next sync] jumps 0"},
     "wakes 1 lost 0 no data 0 failed 0 up 2 median 30 longest 30 jumps 0 "
     "top sync: File transfer failed for PICTN.JPG: N; kept for the next sync x1"},
    {"power lost mid-line, the next wake on the same line",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:04;Data;2;Data call failure\r\n"
     "2024-05-07 09:03:09;process;0;Picture proc2024-05-08 07:00:00;main;0;Modem power-on\r\n"
     "2024-05-08 07:00:03;main;0;Modem powerdown\r\n",
     {"on 9 lost data fail×1 slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 1 "
      "[Data: Data call failure] jumps 0",
      "on 3 off data - slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 0 [] jumps 0"},
     "wakes 2 lost 1 no data 2 failed 1 up 0 median 9 longest 9 jumps 0 entries cut short 1@3 "
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
     {"on 20 off data 0:10 slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 0 [] jumps 1",
      "on 18 off data - slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 0 [] jumps 1"},
     "wakes 2 lost 0 no data 1 failed 0 up 0 median 20 longest 20 jumps 2"},
    {"NUL runs, a half line and stray bytes",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:05;status;0;AA: 6.0v\r\n"
     "2024-05-07 09:03:06;upload;0;Picture to up" + std::string(50, '\0') + "\n" + std::string(20, '\0') +
         "2024-05-08 07:00:00;main;0;Modem power-on\r\n"
         "\x1b\x7f\xfe\x01garbage\r\n"
         "2024-05-08 07:00:02;status;0;Ext: 11.9v\r\n"
         "2024-05-08 07:00:04;main;0;Modem powerdown\r\n",
     {"on 6 lost data - slot -1 - dBm 0 AA 6.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 0 [] jumps 0",
      "on 4 off data - slot -1 - dBm 0 AA -1.00 ext 11.90 proc 0 up 0 fail 0 req 0 upd 0 err 0 [] jumps 0"},
     "wakes 2 lost 1 no data 2 failed 0 up 0 median 6 longest 6 jumps 0 entries cut short 1@3 NUL runs 2@3 "
     "stray bytes 1@5"},
    {"an entry over three lines",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:01;AT;0;\r\n"
     "+QENG: \"servingcell\",\"NOCONN\"\r\n"
     "OK\r\n"
     "2024-05-07 09:03:02;AT;2;\r\n"
     "ERROR\r\n"
     "\r\n"
     "2024-05-07 09:03:04;main;0;Modem powerdown\r\n",
     {"on 4 off data - slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 1 [AT: ] jumps 0"},
     "wakes 1 lost 0 no data 1 failed 0 up 0 median 4 longest 4 jumps 0 top AT:  x1"},
    {"an unknown tag and a malformed entry",
     "2024-05-07 09:03:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:03:01;weird;2;Modem powerdown\r\n"
     "2024-05-07 09:03:02;Data;x;Data activated\r\n"
     "2024-05-07 09:03:03;Data;0;Data activated\r\n"
     "2024-05-07 09:03:04;main;0;Modem powerdown\r\n",
     {"on 4 off data 0:03 slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 1 "
      "[weird: Modem powerdown] jumps 0"},
     "wakes 1 lost 0 no data 0 failed 0 up 0 median 4 longest 4 jumps 0 malformed entries 1@3 tag weird "
     "top weird: Modem powerdown x1"},
    {"data calls refused twice, then up; failing twice, with the PIN's success at code 2",
     "2024-05-07 09:00:00;main;0;Modem power-on\r\n"
     "2024-05-07 09:00:10;Data;2;Profile index 3 start data call failure: 0x0\r\n"
     "2024-05-07 09:00:40;Data;2;Profile index 3 start data call failure: 0x0\r\n"
     "2024-05-07 09:01:10;Data;0;Profile index 3 start data call success\r\n"
     "2024-05-07 09:01:12;Data;0;Data activated\r\n"
     "2024-05-07 09:01:20;main;0;Modem powerdown\r\n"
     "2024-05-08 09:00:00;main;0;Modem power-on\r\n"
     "2024-05-08 09:00:05;sim;2;Sim pin - OK\r\n"
     "2024-05-08 09:00:10;Data;0;Profile index 3 start data call success\r\n"
     "2024-05-08 09:00:12;Data;1;Data is disconnected: 0x3\r\n"
     "2024-05-08 09:00:42;Data;0;Profile index 3 start data call success\r\n"
     "2024-05-08 09:00:44;Data;1;Data is disconnected: 0x3\r\n"
     "2024-05-08 09:01:00;main;0;Modem powerdown\r\n",
     {"on 80 off data 1:12×3 slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 2 "
      "[Data: Profile index 3 start data call failure: 0x0] jumps 0",
      "on 60 off data fail×2 slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 0 [] jumps 0"},
     "wakes 2 lost 0 no data 1 failed 1 up 0 median 80 longest 80 jumps 0 "
     "top Data: Profile index N start data call failure: NxN x2"},
    {"a transfer made good by its retry and a later one not, a picture refused three times (once for a header), an hour's SIM-update wait",
     "2024-05-09 09:00:00;main;0;Modem power-on\r\n"
     "2024-05-09 09:00:01;image;0;Image transfer from SD Cable\r\n"
     "2024-05-09 09:00:02;image;2;Failed to transfer from SD Cable - 256\r\n"
     "2024-05-09 09:00:03;image;0;Image transfer from SD Cable\r\n"
     "2024-05-09 09:00:04;upload;0;Picture to upload: 3\r\n"
     "2024-05-09 09:00:05;sync;2;File transfer failed for PICT0002.JPG: HTTP status 403; kept for the next sync\r\n"
     "2024-05-09 09:00:05;sync;2;Refused header Content-Length for PICT0002.JPG\r\n"
     "2024-05-09 09:00:06;upload;0;Picture to upload: 1\r\n"
     "2024-05-09 09:00:07;sync;2;File transfer failed for PICT0002.JPG: HTTP status 403; kept for the next sync\r\n"
     "2024-05-09 09:00:08;camapi;0;Wait for sim update for 60 minutes\r\n"
     "2024-05-09 10:00:08;image;0;Image transfer from SD Cable\r\n"
     "2024-05-09 10:00:09;image;2;Failed to transfer from SD Cable - 256\r\n"
     "2024-05-09 10:00:10;main;0;Modem powerdown\r\n",
     {"on 3610 off data - slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 1 fail 1 req 1 upd 0 err 4 "
      "[sync: File transfer failed for PICT0002.JPG: HTTP status 403; kept for the next sync] jumps 0"},
     "wakes 1 lost 0 no data 1 failed 0 up 1 median 3610 longest 3610 jumps 0 "
     "top sync: File transfer failed for PICTN.JPG: HTTP status N; kept for the next sync x2"},
    {"a rollback, a failed MCU flash and a transfer that failed last, cut before the network entry",
     "2024-05-10 09:00:00;main;0;Modem power-on\r\n"
     "2024-05-10 09:00:01;update;0;Update modem\r\n"
     "2024-05-10 09:00:02;update;2;Update rolled back: qz_daemon --version ended with status 1\r\n"
     "2024-05-10 09:00:03;update;0;Update mcu\r\n"
     "2024-05-10 09:00:04;update;2;MCU flash failed: the loader fell silent\r\n"
     "2024-05-10 09:00:05;image;0;Image transfer from SD Cable\r\n"
     "2024-05-10 09:00:06;image;2;Failed to transfer from SD Cable - 256\r\n"
     "2024-05-10 09:00:07;cellular;0;Signal type: LTE\r\n"
     "2024-05-10 09:00:08;sync;0;Start cel" + std::string(700, '\0') + "2024-05-11 09:00:00;main;0;Modem power-on\r\n",
     {"on 8 lost data - slot -1 LTE dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 rb mcu-fail err 3 "
      "[update: Update rolled back: qz_daemon --version ended with status 1] jumps 0",
      "on 0 lost data - slot -1 - dBm 0 AA -1.00 ext -1.00 proc 0 up 0 fail 0 req 0 upd 0 err 0 [] jumps 0"},
     "wakes 2 lost 2 no data 2 failed 0 up 0 median 8 longest 8 jumps 0 entries cut short 1@9 NUL runs 1@9 "
     "top image: Failed to transfer from SD Cable - N x1"},
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

// A camera waking at 07:00 on days `first` to `last` of May 2024, its AA
// falling 0.01 V a day; a data call each wake or none.
std::string camera_log(int first, int last, bool dataUp, bool lowBattery) {
    std::string log;
    for (int day = first; day <= last; ++day) {
        char date[32], volts[16];
        std::snprintf(date, sizeof date, "2024-05-%02d 07:00:", day);
        std::snprintf(volts, sizeof volts, "%.2f", 6.0 - 0.01 * day);
        log += date + std::string("00;main;0;Modem power-on\r\n") + date + "01;status;0;AA: " + volts + "v\r\n" + date +
               (dataUp ? "10;Data;0;Data activated\r\n" : "10;Data;2;Profile index 3 start data call failure: 0x0\r\n");
        if (lowBattery) log += date + std::string("11;status;0;{ \"notifications\": [ \"low_battery\" ] }\r\n");
        log += date + std::string("50;main;0;Modem powerdown\r\n");
    }
    return log;
}

TEST(LogReportFleet, TheCameraThatNeedsAVisitFirst) {
    const struct {
        const char* name;
        std::string log;
    } logs[] = {{"east.txt", camera_log(1, 30, false, false)},
                {"north.txt", camera_log(1, 30, true, true)},
                {"south.txt", camera_log(1, 25, true, false)}};
    std::vector<Camera> cameras;
    for (const auto& one : logs) {
        const Read read = read_log(one.log);
        cameras.push_back(camera_of(one.name, read.wakes, read.totals));
    }
    fleet_order(cameras);
    EXPECT_EQ(fleet_table(cameras),
              "camera                 wakes last wake              AA  V/30d no data up fail upd      visit            most frequent error\n"
              "south.txt                 25 2024-05-25 07:00:00  5.75  -0.30      0%       0 0        silent 5 days\n"
              "north.txt                 30 2024-05-30 07:00:00  5.70  -0.30      0%       0 0        low battery\n"
              "east.txt                  30 2024-05-30 07:00:00  5.70  -0.30    100%       0 0        no data 100%     "
              "Data: Profile index N start data call failure: NxN\n");
}
