// qz_logreport: a camera's event log read back, one line per wake, then totals;
// with --html also a page with the table and charts over time.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "log_report.h"

namespace {

int usage() {
    std::fputs("usage: qz_logreport LOG [--html OUT.html]\n", stderr);
    return 2;
}

bool write_page(const char* path, const char* log, const std::vector<Wake>& wakes, const LogTotals& totals) {
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path, "we"), &std::fclose);
    const char* slash = std::strrchr(log, '/');
    return out && write_report_page(out.get(), slash != nullptr ? slash + 1 : log, wakes, totals) &&
           std::fflush(out.get()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* log = nullptr;
    const char* html = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--html") == 0 && i + 1 < argc)
            html = argv[++i];
        else if (log == nullptr && argv[i][0] != '-')
            log = argv[i];
        else
            return usage();
    }
    if (log == nullptr) return usage();

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
    if (html != nullptr && !write_page(html, log, wakes, totals)) {
        std::perror(html);
        return 1;
    }
    return 0;
}
