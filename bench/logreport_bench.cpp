// qz_logreport on event logs of months of wakes: a tenth, all and twice a
// million lines (about 100 MB per million), as the daemon writes them with a
// power loss now and then. Wall and CPU time, lines and megabytes per second,
// and the tool's peak resident memory, which must not grow with the log. Then
// damaged logs (a zeroed card, a long NUL run, a line without an end, random
// bytes), which must read as fast as clean ones; and the page of 10,000 and
// 20,000 wakes: its size, the time headless chromium takes from its start to
// a screenshot of the page (beside an empty page's) and the page's own time
// from the start of its loading to its whole layout.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// Writes wakes until the log has `lines` lines or `wakes` wakes; the log's size in bytes.
long long write_log(const std::string& path, long long lines, int wakes = 0) {
    FILE* out = std::fopen(path.c_str(), "we");
    if (out == nullptr) return -1;
    char text[32];
    time_t when = 1704096000;  // 2024-01-01
    long long written = 0;
    for (int wake = 1; written < lines && (wakes == 0 || wake <= wakes); ++wake, when += 6 * 3600) {
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

// Damage as cards show it; the log's size in bytes.
enum class Damage { kZeroed, kNulRun, kNoLineEnd, kRandom };

long long write_damaged(const std::string& path, Damage damage) {
    constexpr size_t kMegabyte = 1000000;
    if (damage == Damage::kNulRun) {
        // 4 MB of NUL bytes after a cut entry in the middle of a log of 100,000 lines.
        const std::string half = path + ".half";
        write_log(half, 50000);
        write_log(path, 50000);
        std::string log;
        FILE* in = std::fopen(half.c_str(), "re");
        char buffer[65536];
        for (size_t got; in != nullptr && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) log.append(buffer, got);
        if (in != nullptr) std::fclose(in);
        unlink(half.c_str());
        FILE* out = std::fopen(path.c_str(), "ae");
        if (out == nullptr) return -1;
        const std::string nuls(4 * kMegabyte, '\0');
        std::fputs("2024-05-07 09:03:06;upload;0;Picture to up", out);
        std::fwrite(nuls.data(), 1, nuls.size(), out);
        std::fwrite(log.data(), 1, log.size(), out);
        const long long size = std::ftell(out);
        std::fclose(out);
        return size;
    }
    FILE* out = std::fopen(path.c_str(), "we");
    if (out == nullptr) return -1;
    std::string block(kMegabyte, damage == Damage::kZeroed ? '\0' : 'x');
    uint32_t random = 12345;
    for (int i = 0; i < 50; ++i) {
        if (damage == Damage::kRandom)
            for (char& c : block) c = static_cast<char>((random = random * 1103515245u + 12345u) >> 24);
        std::fwrite(block.data(), 1, block.size(), out);
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

// `removePage` false: the page stays for the caller.
Run run_report(const std::string& log, bool html, bool removePage = true) {
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
    if (removePage) unlink(page.c_str());
    return run;
}

// Headless chromium drawing a page into a screenshot, start to end, the best of three runs; -1 when it fails.
double chromium_seconds(const std::string& page, const std::string& folder) {
    const std::string command = "chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run "
                                "--window-size=1280,2000 --user-data-dir=" + folder + "/profile --screenshot=" +
                                folder + "/shot.png file://" + page + " >/dev/null 2>&1";
    double best = -1;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(command.c_str()) != 0) return -1;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (best < 0 || seconds < best) best = seconds;
    }
    return best;
}

// The page's own time in chromium, from the start of its loading to its whole
// layout, as a script at its end reads it; the best of three runs, -1 when it fails.
double layout_seconds(const std::string& page, const std::string& folder) {
    std::string html;
    if (FILE* in = std::fopen(page.c_str(), "re")) {
        char buffer[65536];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) html.append(buffer, got);
        std::fclose(in);
    }
    const size_t end = html.rfind("</body>");
    if (end == std::string::npos) return -1;
    html.insert(end, "<script>document.body.offsetHeight; document.title = 'laid out ' + performance.now();</script>");
    const std::string timed = folder + "/timed.html";
    if (FILE* out = std::fopen(timed.c_str(), "we")) {
        std::fwrite(html.data(), 1, html.size(), out);
        std::fclose(out);
    }
    const std::string command = "chromium --headless --no-sandbox --disable-gpu --no-first-run --window-size=1280,2000 "
                                "--user-data-dir=" + folder + "/profile --dump-dom file://" + timed + " 2>/dev/null";
    double best = -1;
    for (int run = 0; run < 3; ++run) {
        FILE* browser = popen(command.c_str(), "r");
        if (browser == nullptr) return -1;
        std::string dom;
        char buffer[65536];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, browser)) > 0;) dom.append(buffer, got);
        pclose(browser);
        const size_t at = dom.find("<title>laid out ");
        if (at == std::string::npos) return -1;
        const double seconds = std::atof(dom.c_str() + at + 16) / 1000;
        if (best < 0 || seconds < best) best = seconds;
    }
    unlink(timed.c_str());
    return best;
}

long long file_size(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

void print_row(const std::string& name, long long lines, long long bytes, const Run& run) {
    const double megabytes = static_cast<double>(bytes) / 1e6;
    std::printf("%-26s %9lld %8.1f %8.2f %8.2f %12.0f %8.1f %10.1f%s\n", name.c_str(), lines, megabytes, run.wall,
                run.cpu, static_cast<double>(lines) / run.wall, megabytes / run.wall,
                static_cast<double>(run.peakKb) / 1024.0, run.ok ? "" : "  (failed)");
}

}  // namespace

int main() {
    char folder[] = "/tmp/qz_logbench_XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    std::printf("%-26s %9s %8s %8s %8s %12s %8s %10s\n", "log", "lines", "MB", "wall s", "CPU s", "lines/s",
                "MB/s", "peak MB");
    int failures = 0;
    for (long long lines : {100000LL, 1000000LL, 2000000LL}) {
        const std::string log = std::string(folder) + "/log" + std::to_string(lines) + ".txt";
        const long long bytes = write_log(log, lines);
        for (bool html : {false, true}) {
            if (html && lines != 1000000LL) continue;
            const Run run = run_report(log, html);
            failures += run.ok ? 0 : 1;
            print_row(html ? "with --html" : std::to_string(lines / 1000) + "k lines", lines, bytes, run);
        }
        unlink(log.c_str());
    }
    const struct {
        const char* name;
        Damage damage;
        long long lines;
    } damaged[] = {{"50 MB all-zero file", Damage::kZeroed, 1},
                   {"4 MB NUL run in 100k lines", Damage::kNulRun, 100000},
                   {"50 MB without a line end", Damage::kNoLineEnd, 1},
                   {"50 MB random bytes", Damage::kRandom, 195000}};
    for (const auto& row : damaged) {
        const std::string log = std::string(folder) + "/damaged.txt";
        const long long bytes = write_damaged(log, row.damage);
        const Run run = run_report(log, false);
        failures += run.ok ? 0 : 1;
        print_row(row.name, row.lines, bytes, run);
        unlink(log.c_str());
    }

    const std::string empty = std::string(folder) + "/empty.html";
    if (FILE* blank = std::fopen(empty.c_str(), "we")) {
        std::fputs("<!DOCTYPE html><html><body></body></html>\n", blank);
        std::fclose(blank);
    }
    const double emptySeconds = chromium_seconds(empty, folder);
    std::printf("\n%-26s %9s %8s %10s %12s %12s\n", "page", "wakes", "page MB", "report s", "chromium s",
                "layout s");
    for (int wakes : {10000, 20000}) {
        const std::string log = std::string(folder) + "/wakes" + std::to_string(wakes) + ".txt";
        write_log(log, 1LL << 40, wakes);
        const Run run = run_report(log, true, false);
        failures += run.ok ? 0 : 1;
        const std::string page = log + ".html";
        const double seconds = emptySeconds < 0 ? -1 : chromium_seconds(page, folder);
        const double layout = emptySeconds < 0 ? -1 : layout_seconds(page, folder);
        std::printf("%-26s %9d %8.2f %10.2f %12.2f %12.2f%s\n", (std::to_string(wakes / 1000) + "k wakes").c_str(),
                    wakes, static_cast<double>(file_size(page)) / 1e6, run.wall, seconds, layout,
                    seconds < 0 ? "  (chromium not found: scripts/deps.sh tests installs it)" : "");
        unlink(page.c_str());
        unlink(log.c_str());
    }
    std::printf("%-26s %9s %8s %10s %12.2f\n", "empty page", "", "", "", emptySeconds);
    std::system(("rm -rf " + std::string(folder) + "/profile").c_str());
    unlink((std::string(folder) + "/shot.png").c_str());
    unlink(empty.c_str());
    rmdir(folder);
    return failures == 0 ? 0 : 1;
}
