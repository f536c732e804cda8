// One "process" run of the real daemon over camera-like 12 MP pictures on the
// simulated board: time per picture against the scripted peer doing the same
// job on the same files (vipsthumbnail, then jpegoptim as the device runs it;
// goal: at most half the peer's time), the daemon's resident memory while each
// picture is worked on (goal: at most 16 MiB at its peak, flat over the run),
// the bytes it wrote per picture (goal: at most 1 MiB; its own writes and
// those of the compressor it runs, from /proc/<pid>/io) and the sizes of the
// transmit copies. Then a run on a card that has no room for a copy: the
// pictures wait for the next run, at the cost of one decode (goal: well under
// a second).
//
//   process_bench [pictures]
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "sim/board.h"
#include "sim/pictures.h"
#include "sim/proc_status.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr long kRssGoalKb = 16 * 1024;
constexpr double kWrittenGoal = 1024.0 * 1024.0;
constexpr double kPeerGoal = 0.5;
constexpr double kFullCardGoalSeconds = 1.0;

size_t acks(const std::string& received) {
    return static_cast<size_t>(std::count(received.begin(), received.end(), '\x06'));
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Camera-like pictures IMAG0001.JPG.. in `folder`, each a second newer than the one before.
void write_pictures(const std::string& folder, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        SimPicture picture;
        picture.seed = static_cast<unsigned>(i + 1);
        picture.dateTimeOriginal = "2026:12:06 08:00:00";
        char name[32];
        std::snprintf(name, sizeof name, "IMAG%04d.JPG", i + 1);
        sim_write_picture((folder + name).c_str(), picture);
        fs::last_write_time(folder + name, fs::file_time_type::clock::now() + std::chrono::seconds(i));
    }
}

// Runs a program to its end; true when it exited with 0.
bool run(const std::vector<std::string>& args) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

double children_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Cost {
    double wall = -1, cpu = -1;  // seconds per picture; negative: not measured
};

// The scripted peer's cost per picture for the same copies: vipsthumbnail to
// 520 x 390, then jpegoptim as the device runs it.
Cost peer_cost(const std::string& camera, const std::string& scratch, int count) {
    fs::create_directories(scratch);
    const double cpu = children_cpu_seconds();
    const auto start = Clock::now();
    for (const auto& entry : fs::directory_iterator(camera)) {
        const std::string copy = scratch + entry.path().filename().string();
        if (!run({"vipsthumbnail", entry.path(), "--size", "520x390!", "-o", copy}) ||
            !run({"jpegoptim", "-S20", "--strip-com", "--strip-iptc", "--strip-icc", "--strip-xmp", copy}))
            return {};
    }
    return {seconds_since(start) / count, (children_cpu_seconds() - cpu) / count};
}

// A tmpfs of `kib` KiB filled to its last block at `folder`, in a mount
// namespace of this process (and so of the daemons it starts); false when the
// system allows none.
bool full_card_at(const std::string& folder, int kib) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 0 1";
    std::ofstream("/proc/self/gid_map") << "0 0 1";
    const std::string size = "size=" + std::to_string(kib) + "k";
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("card", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
        return false;
    std::ofstream filler(folder + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
    }
    return true;
}

// The daemon's "process" over the pictures of `camera`, with transmit/ on a
// full card: its wall time, and what it logged. The pictures all stay in process/.
void full_card_run(const std::string& camera, const std::string& root, int count) {
    std::printf("\nA run on a full card (%d pictures waiting, transmit/ on a full tmpfs):\n", count);
    const std::string process = root + "/media/sdcard/process/";
    const std::string transmit = root + "/media/sdcard/transmit";
    fs::create_directories(transmit);
    fs::create_directories(process);
    fs::copy(camera, process, fs::copy_options::recursive);
    // Before the board starts its threads: a process with more than one cannot move.
    if (!full_card_at(transmit, 64)) {
        std::printf("not measured: this system allows no tmpfs in a namespace of our own\n");
        return;
    }
    SimBoard::Options options;
    options.root = root;
    SimBoard board(options);
    if (!board.start_daemon() || !board.mcu_wait_for("RDY\r\n", std::chrono::seconds(10))) {
        std::printf("the daemon did not start\n");
        return;
    }
    const size_t from = board.mcu_received().size();
    const auto start = Clock::now();
    board.mcu_send("qz+process\r");
    const bool answered = !board.mcu_answer(from, std::chrono::minutes(2)).empty();
    const double wall = seconds_since(start);
    const std::string log = board.read_file("/media/sdcard/log.txt");
    size_t waiting = 0, copies = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(process)) ++waiting;
    for (size_t at = 0; (at = log.find("cannot write", at)) != std::string::npos; ++at) ++copies;
    const size_t pause = log.find("pictures left for the next run");
    const size_t line = log.rfind(';', pause);
    std::printf("| measure | value |\n|---|---|\n");
    std::printf("| wall time, whole run | %.3f s (goal: under %.0f s) %s |\n", wall,
                kFullCardGoalSeconds, answered && wall < kFullCardGoalSeconds ? "met" : "missed");
    std::printf("| copies tried (one decode each) | %zu |\n", copies);
    std::printf("| pictures still in process/ | %zu of %d |\n", waiting, count);
    std::printf("| logged | %s |\n",
                pause == std::string::npos ? "-" : log.substr(line + 1, log.find('\r', pause) - line - 1).c_str());
    board.mcu_send("qz+powerdown\r");
    board.wait_exit(std::chrono::seconds(5));
}

// The daemon's "process" over the pictures of `camera`: its cost per picture
// against the peer's, its memory and its writes; false when it did not run.
bool daemon_run(const std::string& camera, int count, const Cost& peer) {
    SimBoard board;
    const std::string process = board.path("/media/sdcard/process/");
    fs::copy(camera, process, fs::copy_options::recursive);
    if (!board.start_daemon() || !board.mcu_wait_for("RDY\r\n", std::chrono::seconds(10))) {
        std::fprintf(stderr, "the daemon did not start\n");
        return false;
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
    const double cpuBefore = cpu_seconds(pid);
    const auto start = Clock::now();
    board.mcu_send("qz+process\r");
    bool answered = !board.mcu_answer(from, std::chrono::minutes(10)).empty();
    const Cost ours{seconds_since(start) / count, (cpu_seconds(pid) - cpuBefore) / count};
    const long highWater = status_kb(pid, "VmHWM:");
    const long after = status_kb(pid, "VmRSS:");
    const double written = static_cast<double>(io_counter(pid, "wchar") - wcharBefore) / count;
    const double toDisk = static_cast<double>(io_counter(pid, "write_bytes") - diskBefore) / count;
    done = true;
    sampler.join();
    if (!answered) {
        std::fprintf(stderr, "no end mark from the daemon\n");
        return false;
    }

    std::vector<uintmax_t> sizes;
    for (const auto& entry : fs::directory_iterator(board.path("/media/sdcard/transmit/")))
        sizes.push_back(entry.file_size());
    std::sort(sizes.begin(), sizes.end());

    std::printf("\n| measure | value |\n|---|---|\n");
    std::printf("| pictures processed | %d (transmit copies: %zu) |\n", count, sizes.size());
    std::printf("| wall time, whole run | %.2f s |\n", ours.wall * count);
    std::printf("| per picture: wall, CPU (with the compressor) | %.3f s, %.3f s |\n", ours.wall, ours.cpu);
    if (peer.wall > 0) {
        std::printf("| peer, vipsthumbnail + jpegoptim, per picture: wall, CPU | %.3f s, %.3f s |\n",
                    peer.wall, peer.cpu);
        std::printf("| ours over the peer's: wall, CPU (goal: at most %.2f) | %.2f, %.2f %s |\n",
                    kPeerGoal, ours.wall / peer.wall, ours.cpu / peer.cpu,
                    ours.wall / peer.wall <= kPeerGoal ? "met" : "missed");
    } else {
        std::printf("| peer, vipsthumbnail + jpegoptim | not installed |\n");
    }
    std::printf("| daemon resident memory before the run | %ld kB |\n", before);
    std::printf("| daemon peak resident memory (VmHWM) | %ld kB |\n", highWater);
    std::printf("| daemon resident memory after the run | %ld kB |\n", after);
    std::printf("| peak resident memory while picture 1 | %ld kB |\n", peakPerPicture[1]);
    std::printf("| peak resident memory while picture %d | %ld kB |\n", count,
                peakPerPicture[static_cast<size_t>(count)]);
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
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20;
    char pattern[] = "/tmp/process_bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const std::string camera = std::string(pattern) + "/camera/";
    std::printf("Writing %d camera-like 4000 x 3000 pictures...\n", count);
    write_pictures(camera, count);
    const Cost peer = peer_cost(camera, std::string(pattern) + "/peer/", count);

    if (!daemon_run(camera, count, peer)) return 1;
    // Last: it moves this process into a namespace of its own.
    const std::string full = std::string(pattern) + "/full";
    full_card_run(camera, full, count);
    umount2((full + "/media/sdcard/transmit").c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return 0;
}
