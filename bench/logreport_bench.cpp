// qz_logreport on event logs of months of wakes: a tenth, all and twice a
// million lines (about 100 MB per million), as the daemon writes them with a
// power loss now and then. Wall and CPU time, lines and megabytes per second,
// and the tool's peak resident memory, which must not grow with the log.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

// The camera record, logged with each exchange with the cloud.
constexpr const char* kStatus =
    "status;0;{ \"sim\": \"8944500102198304826\", \"model\": \"TORVEX-C1\", \"version\": \"V1.05.07 REV 2\", "
    "\"lastUpdate\": \"2024-05-07T09:03:12.000-00:00\", \"batteries\": [ 98 ], \"batteryType\": \"AA\", \"signal\": "
    "{ \"bar\": 4, \"mnc\": 50, \"type\": \"LTE\", \"mcc\": 234, \"dBm\": -93, \"imsi\": \"234500012345678\", "
    "\"cellid\": 20811, \"lac\": 4660 }, \"memory\": { \"size\": 78504, \"used\": 19481 }, \"temperature\": "
    "{ \"value\": 21, \"unit\": \"C\" }, \"installDate\": \"2024-04-01 10:00:00\", \"modemFirmware\": "
    "\"QZM01R06A01\", \"inaccurateDate\": false, \"capability\": { \"hdRequest\": true } }";

// One wake's entries after power-on, one second apart; "\n" inside an entry is
// an AT answer's line break as older daemons kept it.
const char* const kWake[] = {
    "Modem;0;Firmware: QZM01R06A01",
    "adc;0;Temperature: 21C",
    "AT;0;AT+CFUN=0",
    "AT;0;\r\nOK\r\n",
    "main;0;Version: V1.05.07 REV 2",
    "status;0;AA: 6.05v",
    "status;0;Ext: 12.4v",
    "image;0;Image transfer from SD Cable",
    "SIM;0;Sim Client initialized",
    "sim;2;Sim pin - OK",
    "AT;0;AT+QMBNCFG=\"deactivate\"",
    "AT;0;\r\nOK\r\n",
    "cellular;0;ICCID (slot #0): 8944500102198304826",
    "cellular;0;IMSI (slot #0): 234500012345678",
    "SIM;0;Sim Client initialized",
    "cellular;0;Slot #1 empty (b02)",
    "cellular;0;Signal type: LTE",
    "Data;0;Profile index 3 start data call success",
    "Data;0;Data activated",
    "process;0;Picture processed: 4",
    "getdatetime;0;2024 5 7 9 3 10",
    "cellular;0;Signal strength: -93",
    "sync;0;Start cellular transfert",
    "token;0;Get token success",
    "cellular;0;MCC: 234 MNC: 50",
    kStatus,
    "uploads;0;4 [ { \"name\": \"PICT0004.JPG\", \"size\": 20590 }, { \"name\": \"PICT0003.JPG\", \"size\": 21493 }, "
    "{ \"name\": \"PICT0002.JPG\", \"size\": 21306 }, { \"name\": \"PICT0001.JPG\", \"size\": 21178 } ]",
    "sync;0;Host: cloud.example.net",
    "request;0;[ { \"name\": \"log.txt\", \"host\": \"https://cloud.example.net\", \"path\": "
    "\"/storage/7f3a9c/log.txt\", \"verb\": \"PUT\", \"headers\": { \"X-Upload-Key\": "
    "\"5b9e0c2d7a1f4e8b9c3d6a0f1e2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d7e8f9a0b\", \"Content-Type\": "
    "\"text/plain\" } }, { \"name\": \"log.txt.1\", \"host\": \"https://cloud.example.net\", \"path\": "
    "\"/storage/7f3a9c/log.txt.1\", \"verb\": \"PUT\", \"headers\": { \"X-Upload-Key\": "
    "\"5b9e0c2d7a1f4e8b9c3d6a0f1e2b3c4d5e6f7a8b9c0d1e2f3a4b5c6d7e8f9a0b\", \"Content-Type\": "
    "\"text/plain\" } } ]",
    "upload;0;Picture to upload: 4",
    "sync;2;File transfer failed for PICT0002.JPG: HTTP status 503; kept for the next sync",
    "uploads;0;1 [ { \"name\": \"PICT0002.JPG\", \"size\": 21306 } ]",
    kStatus,
    "upload;0;Picture to upload: 1",
    "sync;0;End cellular transfert",
    "config;0;{ \"firstSyncHour\": 7, \"firstSyncMinute\": 0, \"syncEach\": 1, \"uploadPictureCount\": 4, "
    "\"pictureSize\": \"small\", \"temperatureUnit\": \"C\", \"hdRequest\": true, \"timeZone\": \"auto\", "
    "\"host\": \"cloud.example.net\", \"apn\": { \"slot0\": \"\", \"slot1\": \"\" }, \"notifications\": "
    "[ \"low_battery\", \"sd_full\", \"inaccurate_date\" ], \"schedule\": [ 7, 13, 19 ] }",
    "config;0;Next sync: 07:00",
    "config;0;Is each: 1",
};
constexpr int kCutEvery = 50;  // every 50th wake loses its power before the end

size_t lines_of(const char* entry) {
    size_t lines = 1;
    for (const char* p = entry; *p != '\0'; ++p) lines += *p == '\n';
    return lines;
}

void stamp(char (&text)[32], time_t when) {
    tm fields{};
    gmtime_r(&when, &fields);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
}

// Writes wakes until the log has `lines` lines; the log's size in bytes.
long long write_log(const std::string& path, long long lines) {
    FILE* out = std::fopen(path.c_str(), "we");
    if (out == nullptr) return -1;
    char text[32];
    time_t when = 1704096000;  // 2024-01-01
    long long written = 0;
    for (int wake = 1; written < lines; ++wake, when += 6 * 3600) {
        time_t at = when;
        stamp(text, at);
        std::fprintf(out, "%s;main;0;Modem power-on\r\n", text);
        ++written;
        const bool cut = wake % kCutEvery == 0;
        for (const char* entry : kWake) {
            if (written >= lines) break;
            stamp(text, ++at);
            std::fprintf(out, "%s;%s\r\n", text, entry);
            written += static_cast<long long>(lines_of(entry));
            if (cut && entry == kWake[20]) break;
        }
        if (cut) {
            stamp(text, ++at);
            std::fprintf(out, "%s;sync;0;Start cel", text);
            std::fwrite(std::string(512, '\0').data(), 1, 512, out);
        } else if (written < lines) {
            stamp(text, ++at);
            std::fprintf(out, "%s;main;0;Modem powerdown\r\n", text);
            ++written;
        }
    }
    const long long size = std::ftell(out);
    std::fclose(out);
    return size;
}

struct Run {
    double wall = 0, cpu = 0;
    long peakKb = 0;
    bool ok = false;
};

Run run_report(const std::string& log, bool html) {
    const std::string page = log + ".html";
    Run run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        if (html)
            execl(QZ_LOGREPORT_PATH, "qz_logreport", log.c_str(), "--html", page.c_str(), static_cast<char*>(nullptr));
        else
            execl(QZ_LOGREPORT_PATH, "qz_logreport", log.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return run;
    run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKb = usage.ru_maxrss;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    unlink(page.c_str());
    return run;
}

}  // namespace

int main() {
    char folder[] = "/tmp/qz_logbench_XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::printf("%-22s %9s %8s %8s %8s %12s %8s %10s\n", "log", "lines", "MB", "wall s", "CPU s", "lines/s",
                "MB/s", "peak MB");
    int failures = 0;
    for (long long lines : {100000LL, 1000000LL, 2000000LL}) {
        const std::string log = std::string(folder) + "/log" + std::to_string(lines) + ".txt";
        const long long bytes = write_log(log, lines);
        for (bool html : {false, true}) {
            if (html && lines != 1000000LL) continue;
            const Run run = run_report(log, html);
            failures += run.ok ? 0 : 1;
            const double megabytes = static_cast<double>(bytes) / 1e6;
            std::printf("%-22s %9lld %8.1f %8.2f %8.2f %12.0f %8.1f %10.1f%s\n",
                        html ? "with --html" : (std::to_string(lines / 1000) + "k lines").c_str(), lines, megabytes,
                        run.wall, run.cpu, static_cast<double>(lines) / run.wall, megabytes / run.wall,
                        static_cast<double>(run.peakKb) / 1024.0, run.ok ? "" : "  (failed)");
        }
        unlink(log.c_str());
    }
    rmdir(folder);
    return failures == 0 ? 0 : 1;
}
