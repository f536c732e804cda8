#include "sim/hostile_sync.h"

#include <stdlib.h>
#include <sys/statvfs.h>
#include <utime.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "sim/board.h"
#include "sim/modem_board.h"
#include "sim/proc_status.h"
#include "sim/sim_files.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr const char* kTransmit = "/media/sdcard/transmit/";
// The longest a sync may take on the daemon's clock: its 15 minutes, an hour
// of SIM-update waits and some leeway.
constexpr double kLongestSyncSeconds = 80 * 60;

std::string picture_name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "PICT%04d.JPG", i);
    return name;
}

// Transmit copies, each newer than the one before, of bytes that tell them apart.
std::map<std::string, std::string> lay_copies(const SimBoard& board, int count) {
    std::map<std::string, std::string> copies;
    for (int i = 1; i <= count; ++i) {
        std::string bytes(kHostilePictureBytes, '\0');
        for (size_t at = 0; at < bytes.size(); ++at)
            bytes[at] = static_cast<char>((at * 31 + static_cast<size_t>(i)) % 251);
        const std::string path = board.path(kTransmit + picture_name(i));
        sim_write_file(path, bytes);
        utimbuf times{1715000000 + i, 1715000000 + i};
        utime(path.c_str(), &times);
        copies[picture_name(i)] = bytes;
    }
    return copies;
}

bool log_holds(const SimBoard& board, const std::string& text, std::chrono::milliseconds within) {
    const auto end = Clock::now() + within;
    while (board.read_file("/media/sdcard/log.txt").find(text) == std::string::npos) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// The longest time between bytes to the MCU from `start` to `end`, in seconds.
double longest_silence(const std::vector<SimBoard::Received>& chunks, Clock::time_point start,
                       Clock::time_point end) {
    Clock::time_point last = start;
    double longest = 0;
    for (const auto& chunk : chunks) {
        if (chunk.when < start) continue;
        longest = std::max(longest, std::chrono::duration<double>(chunk.when - last).count());
        last = chunk.when;
    }
    return std::max(longest, std::chrono::duration<double>(end - last).count());
}

// The serving-cell query, asked for want of a usable LTE level, answered with an error.
void modem_refuses_serving_cell(SimBoard& board) {
    std::string scenario = kDefaultModemScenario;
    const std::string usable = R"("lte": -95)";
    scenario.replace(scenario.find(usable), usable.size(), R"("lte": 0)");
    modem_board_set_scenario(board.root(), scenario);
    board.at_answer("at+qeng", "+CME ERROR: 10");
}

// The board's root in memory: the event log is flushed at every entry, and
// that real time, which the fast clock does not shorten, would otherwise
// count as many times over as the clock runs faster. Empty when /dev/shm is
// missing or runs no programs (the board's stand-ins); the board then makes a
// root of its own.
class MemoryRoot {
  public:
    MemoryRoot() {
        struct statvfs memory {};
        char pattern[] = "/dev/shm/qz_hostile.XXXXXX";
        if (statvfs("/dev/shm", &memory) == 0 && (memory.f_flag & ST_NOEXEC) == 0 &&
            mkdtemp(pattern) != nullptr)
            path_ = pattern;
    }
    ~MemoryRoot() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    MemoryRoot(const MemoryRoot&) = delete;
    MemoryRoot& operator=(const MemoryRoot&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace

std::vector<HostileMode> hostile_modes() {
    std::vector<HostileMode> modes;
    auto add = [&modes](const char* name, const std::function<void(HostileMode&)>& set) {
        modes.emplace_back();
        modes.back().name = name;
        set(modes.back());
    };
    const std::string once = R"({"name": "PICT0001.JPG"})";
    const std::string size = std::to_string(kHostilePictureBytes);
    add("framing header", [](HostileMode& m) {
        m.cloud.uploadHeaders = {{"Content-Length", "10"}};
    });
    add("repeated and unknown instructions", [&](HostileMode& m) {
        m.cloud.uploads = "[" + once + ", " + once + ", " + once +
                          R"(, {"name": "PICT0009.JPG", "size": 20000}])";
    });
    add("answer over the limit",
        [](HostileMode& m) { m.cloud.padding = 1000000; });  // just under 1 MiB
    add("silent token endpoint", [](HostileMode& m) {
        m.cloud.silent = {"token"};
        m.storedToken = false;
    });
    add("silent storage, 5 instructions", [&](HostileMode& m) {
        m.cloud.silent = {"storage"};
        m.cloud.uploads = "[" + once + ", " + once + ", " + once + ", " + once + ", " + once + "]";
    });
    add("503, Retry-After beyond the budget", [](HostileMode& m) {
        m.cloud.serverErrors = 1000;
        m.cloud.serverErrorStatus = 503;
        m.cloud.retryAfter = "3600";
    });
    add("401 for every token", [](HostileMode& m) { m.cloud.refuseToken = 1000; });
    add("three updateSim of 60 minutes", [](HostileMode& m) {
        m.cloud.requests = R"({"updateSim": {"execute": true, "content": 60}})";
        m.cloud.repeatRequests = true;
        m.cloud.picturesWanted = 1;
        m.pictures = 3;
        m.speed = 60;
    });
    add("token of 120 characters", [](HostileMode& m) {
        m.cloud.tokenLength = 120;
        m.storedToken = false;
    });
    add("token of 2,100 characters", [](HostileMode& m) {
        m.cloud.tokenLength = 2100;
        m.storedToken = false;
    });
    add("size as a string",
        [&](HostileMode& m) { m.cloud.instruction = R"({"size": ")" + size + "\"}"; });
    add("size as a float",
        [&](HostileMode& m) { m.cloud.instruction = R"({"size": )" + size + ".0}"; });
    add("+CME ERROR", [](HostileMode& m) { m.beforeSync = modem_refuses_serving_cell; });
    return modes;
}

HostileRun hostile_sync_run(const HostileMode& mode, const std::string& daemonPath) {
    HostileRun run;
    const MemoryRoot memory;
    SimBoard::Options options;
    options.root = memory.path();
    options.clockSpeed = mode.speed;
    options.daemonPath = daemonPath;
    SimBoard board(options);
    CloudScenario scenario = mode.cloud;
    if (mode.storedToken) scenario.storedToken = "tok-stored";
    CloudEmulator cloud(scenario);
    if (!cloud.start() || !cloud_emulator_attach(cloud, scenario, board.root())) {
        run.failure = "the cloud emulator did not start";
        return run;
    }
    fs::create_directories(board.path(kTransmit));
    run.copies = lay_copies(board, mode.pictures);
    if (!board.start_daemon() || !board.mcu_wait_for("RDY\r\n", 10s)) {
        run.failure = "the daemon did not start";
        return run;
    }
    board.mcu_send("qz+cell\r");
    if (!log_holds(board, ";Data;0;Data activated", 60s)) {
        run.failure = "the data call did not come up";
        return run;
    }
    if (mode.beforeSync) mode.beforeSync(board);
    reset_peak(board.daemon_pid());
    const size_t requestsBefore = cloud.requests().size();
    const size_t from = board.mcu_received().size();
    const auto start = Clock::now();
    board.mcu_send("qz+sync\r");
    const auto limit = std::chrono::duration<double>(kLongestSyncSeconds / mode.speed);
    run.ended =
        !board.mcu_answer(from, std::chrono::duration_cast<std::chrono::milliseconds>(limit))
             .empty();
    const auto end = Clock::now();
    run.peakKb = status_kb(board.daemon_pid(), "VmHWM:");
    run.seconds = std::chrono::duration<double>(end - start).count() * mode.speed;
    run.longestSilence = longest_silence(board.mcu_chunks(), start, end) * mode.speed;
    run.requests = cloud.requests().size() - requestsBefore;
    board.mcu_send("qz+powerdown\r");
    board.wait_exit(10s);
    run.traffic = cloud.traffic();
    for (const StoredPicture& picture : cloud.pictures()) run.stored[picture.name] = picture.bytes;
    std::error_code gone;
    for (const auto& entry : fs::directory_iterator(board.path(kTransmit), gone))
        run.kept.push_back(entry.path().filename().string());
    std::sort(run.kept.begin(), run.kept.end());
    run.log = board.read_file("/media/sdcard/log.txt");
    run.sanitizerReport = board.sanitizer_report();
    return run;
}
