// One "process" run of the real daemon over camera-like 12 MP pictures on the
// simulated board: time per picture, the daemon's resident memory while each
// picture is worked on (goal: at most 16 MiB at its peak, flat over the run),
// the bytes it wrote per picture (goal: at most 1 MiB; its own writes and
// those of the compressor it runs, from /proc/<pid>/io) and the sizes of the
// transmit copies.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "board.h"
#include "pictures.h"
#include "proc_status.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kRssGoalKb = 16 * 1024;
constexpr double kWrittenGoal = 1024.0 * 1024.0;

size_t acks(const std::string& received) {
    return static_cast<size_t>(std::count(received.begin(), received.end(), '\x06'));
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20;
    SimBoard board;
    const std::string process = board.path("/media/sdcard/process/");
    fs::create_directories(process);
    std::printf("Writing %d camera-like 4000 x 3000 pictures...\n", count);
    for (int i = 0; i < count; ++i) {
        SimPicture picture;
        picture.seed = static_cast<unsigned>(i + 1);
        picture.dateTimeOriginal = "2026:12:06 08:00:00";
        char name[32];
        std::snprintf(name, sizeof name, "IMAG%04d.JPG", i + 1);
        sim_write_picture((process + name).c_str(), picture);
        fs::last_write_time(process + name, fs::file_time_type::clock::now() + std::chrono::seconds(i));
    }
    if (!board.start_daemon() || !board.mcu_wait_for("RDY\r\n", std::chrono::seconds(10))) {
        std::fprintf(stderr, "the daemon did not start\n");
        return 1;
    }
    const pid_t pid = board.daemon_pid();
    std::vector<long> peakPerPicture(static_cast<size_t>(count) + 1, 0);
    std::atomic<bool> done{false};
    const size_t from = board.mcu_received().size();
    std::thread sampler([&] {
        size_t seen = 0;
        while (!done) {
            size_t current = std::min(acks(board.mcu_received().substr(from)), static_cast<size_t>(count));
            seen = std::max(seen, current);
            peakPerPicture[seen] = std::max(peakPerPicture[seen], status_kb(pid, "VmRSS:"));
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const long before = status_kb(pid, "VmRSS:");
    const long long wcharBefore = io_counter(pid, "wchar");
    const long long diskBefore = io_counter(pid, "write_bytes");
    const auto start = Clock::now();
    board.mcu_send("qz+process\r");
    bool answered = !board.mcu_answer(from, std::chrono::minutes(10)).empty();
    const auto end = Clock::now();
    const long highWater = status_kb(pid, "VmHWM:");
    const long after = status_kb(pid, "VmRSS:");
    const double written = static_cast<double>(io_counter(pid, "wchar") - wcharBefore) / count;
    const double toDisk = static_cast<double>(io_counter(pid, "write_bytes") - diskBefore) / count;
    done = true;
    sampler.join();
    if (!answered) {
        std::fprintf(stderr, "no end mark from the daemon\n");
        return 1;
    }

    std::vector<uintmax_t> sizes;
    for (const auto& entry : fs::directory_iterator(board.path("/media/sdcard/transmit/")))
        sizes.push_back(entry.file_size());
    std::sort(sizes.begin(), sizes.end());
    const double wall = std::chrono::duration<double>(end - start).count();

    std::printf("\n| measure | value |\n|---|---|\n");
    std::printf("| pictures processed | %d (transmit copies: %zu) |\n", count, sizes.size());
    std::printf("| wall time, whole run | %.2f s |\n", wall);
    std::printf("| wall time per picture | %.3f s |\n", wall / count);
    std::printf("| daemon resident memory before the run | %ld kB |\n", before);
    std::printf("| daemon peak resident memory (VmHWM) | %ld kB |\n", highWater);
    std::printf("| daemon resident memory after the run | %ld kB |\n", after);
    std::printf("| peak resident memory while picture 1 | %ld kB |\n", peakPerPicture[1]);
    std::printf("| peak resident memory while picture %d | %ld kB |\n", count, peakPerPicture[static_cast<size_t>(count)]);
    std::printf("| peak resident memory goal (16 MiB) | %s |\n", highWater <= kRssGoalKb ? "met" : "missed");
    std::printf("| bytes written per picture (wchar) | %.0f |\n", written);
    std::printf("| bytes written to the card per picture (write_bytes) | %.0f |\n", toDisk);
    std::printf("| bytes written goal (1 MiB per picture) | %s |\n",
                std::max(written, toDisk) <= kWrittenGoal ? "met" : "missed");
    if (!sizes.empty()) {
        std::printf("| transmit copy, median | %ju bytes |\n", sizes[sizes.size() / 2]);
        std::printf("| transmit copy, largest | %ju bytes |\n", sizes.back());
    }
    std::printf("\nPeak resident memory per picture (kB):");
    for (int i = 1; i <= count; ++i) std::printf(" %ld", peakPerPicture[static_cast<size_t>(i)]);
    std::printf("\n");
    board.mcu_send("qz+powerdown\r");
    board.wait_exit(std::chrono::seconds(5));
    return 0;
}
