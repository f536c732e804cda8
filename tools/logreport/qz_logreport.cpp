// qz_logreport: a camera's event log read back, one line per wake, then
// totals; or a folder of logs, one per camera, one line per camera with the
// one that needs a visit first. With --html also a page (for a folder, the
// fleet's page and each camera's own page beside it).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tools/logreport/fleet.h"
#include "tools/logreport/log_report.h"

namespace {

namespace fs = std::filesystem;

int usage() {
    std::fputs(
        "usage: qz_logreport LOG [--html OUT.html]\n"
        "       qz_logreport FOLDER [--html OUT.html]   (a log per camera)\n",
        stderr);
    return 2;
}

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File open_output(const std::string& path) {
    return File(std::fopen(path.c_str(), "we"), &std::fclose);
}

bool write_page(const std::string& path, const std::string& title, const std::vector<Wake>& wakes,
                const LogTotals& totals) {
    File out = open_output(path);
    return out && write_report_page(out.get(), title.c_str(), wakes, totals) &&
           std::fflush(out.get()) == 0;
}

int one_camera(const char* log, const char* html) {
    // The page needs every wake; the text goes out as each wake ends.
    std::vector<Wake> wakes;
    LogReport report([&](const Wake& wake) {
        std::puts(wake_table_row(wake).c_str());
        if (html != nullptr) wakes.push_back(wake);
    });
    std::puts(wake_table_header().c_str());
    if (!log_report_file(log, report)) {
        std::perror(log);
        return 1;
    }
    const LogTotals& totals = report.finish();
    std::printf("\n%s", totals_text(totals).c_str());
    if (html != nullptr && !write_page(html, fs::path(log).filename().string(), wakes, totals)) {
        std::perror(html);
        return 1;
    }
    return 0;
}

// The folder's logs by name; pages this tool wrote there are passed over.
std::vector<fs::path> logs_in(const fs::path& folder) {
    std::vector<fs::path> logs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.' || entry.path().extension() == ".html" ||
            !entry.is_regular_file(error))
            continue;
        logs.push_back(entry.path());
    }
    std::sort(logs.begin(), logs.end());
    return logs;
}

int fleet(const char* folder, const char* html) {
    const fs::path pages = html != nullptr ? fs::path(html).parent_path() : fs::path();
    std::vector<Camera> cameras;
    int failures = 0;
    for (const fs::path& log : logs_in(folder)) {
        const std::string name = log.filename().string();
        std::vector<Wake> wakes;
        LogReport report([&](const Wake& wake) { wakes.push_back(wake); });
        if (!log_report_file(log.c_str(), report)) {
            Camera unreadable;
            unreadable.name = name;
            cameras.push_back(unreadable);
            continue;
        }
        const LogTotals& totals = report.finish();
        cameras.push_back(camera_of(name, wakes, totals));
        if (html == nullptr) continue;
        cameras.back().page = name + ".html";
        if (!write_page((pages / cameras.back().page).string(), name, wakes, totals)) {
            std::perror((pages / cameras.back().page).c_str());
            ++failures;
        }
    }
    fleet_order(cameras);
    std::fputs(fleet_table(cameras).c_str(), stdout);
    if (html == nullptr) return failures == 0 ? 0 : 1;
    std::string title = folder;
    while (title.size() > 1 && title.back() == '/') title.pop_back();
    File out = open_output(html);
    if (!out || !write_fleet_page(out.get(), title.c_str(), cameras) ||
        std::fflush(out.get()) != 0) {
        std::perror(html);
        return 1;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* input = nullptr;
    const char* html = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--html") == 0 && i + 1 < argc)
            html = argv[++i];
        else if (input == nullptr && argv[i][0] != '-')
            input = argv[i];
        else
            return usage();
    }
    if (input == nullptr) return usage();
    std::error_code error;
    if (fs::is_directory(input, error)) return fleet(input, html);
    return one_camera(input, html);
}
