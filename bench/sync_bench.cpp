// A "sync" of the real daemon that uploads transmit copies to the cloud
// emulator on loopback, against Debian's curl uploading the same files in one
// invocation, in alternating rounds: wall time, TCP connections and TLS
// handshakes, the daemon's peak memory during a sync. With a delay, both reach
// the emulator through a relay that holds every chunk that long each way.
// Usage: sync_bench [PICTURES (20) [ROUNDS (7) [DELAY_MS (0)]]]
#include <json-c/json.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/cloud_emulator.h"
#include "bench/delaying_relay.h"
#include "core/json_util.h"
#include "sim/pictures.h"
#include "sim/proc_status.h"
#include "sim/sim_files.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

struct Counters {
    int connections, handshakes;
};
Counters counters(const CloudEmulator& cloud) { return {cloud.connections(), cloud.handshakes()}; }

// Camera-like transmit copies of about 21 kB, named as "process" names them.
std::vector<std::string> write_copies(const std::string& folder, int count) {
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) {
        SimPicture picture;
        picture.width = 320;
        picture.height = 240;
        picture.quality = 70;
        picture.seed = static_cast<unsigned>(i);
        picture.dateTimeOriginal = "2026:12:06 08:00:00";
        char name[32];
        std::snprintf(name, sizeof name, "PICT%04d.JPG", i);
        sim_write_picture((folder + name).c_str(), picture);
        names.push_back(name);
    }
    return names;
}

// A curl config that uploads every file where the emulator's instructions say,
// one transfer after the other on one connection. Empty when the service did
// not hand out an instruction per file.
std::string curl_uploads(const CloudEmulator& cloud, const std::string& ca, const std::string& folder,
                         const std::vector<std::string>& names) {
    const std::string curl = "curl -sS --cacert " + ca + " ";
    const std::string api = "https://" + cloud.host() + "/camapi/v3/";
    std::string answer;
    sim_run(curl + api + "token/bench", answer);
    JsonPtr token = json_parse(answer.c_str());
    const char* bearer = json_member_string(token.get(), "token");
    if (bearer == nullptr) return {};
    JsonPtr offer(json_object_new_array());
    for (const auto& name : names) {
        json_object* entry = json_object_new_object();
        json_object_object_add(entry, "name", json_object_new_string(name.c_str()));
        json_object_object_add(entry, "size", json_object_new_int64(static_cast<int64_t>(fs::file_size(folder + name))));
        json_object_array_add(offer.get(), entry);
    }
    std::string document = std::string("{\"uploads\": ") + json_object_to_json_string(offer.get()) + "}";
    sim_run(curl + "-X PUT -H 'Authorization: Bearer " + bearer + "' -H 'Content-Type: application/json' -d '" +
                document + "' " + api + "camera/bench",
            answer);
    JsonPtr instructions = json_parse(answer.c_str());
    json_object* uploads = nullptr;
    if (!json_object_object_get_ex(instructions.get(), "uploads", &uploads) ||
        json_object_array_length(uploads) != names.size())
        return {};
    std::string config;
    for (size_t i = 0; i < json_object_array_length(uploads); ++i) {
        json_object* instruction = json_object_array_get_idx(uploads, i);
        if (i > 0) config += "next\n";
        config += "cacert = \"" + ca + "\"\noutput = \"/dev/null\"\n";
        // curl at its best: no "100-continue" round trip before each body.
        config += "header = \"Expect:\"\n";
        config += std::string("request = \"") + json_member_string(instruction, "verb") + "\"\n";
        config += "upload-file = \"" + folder + json_member_string(instruction, "name") + "\"\n";
        config += std::string("url = \"") + json_member_string(instruction, "host") +
                  json_member_string(instruction, "path") + "\"\n";
        json_object* headers = nullptr;
        json_object_object_get_ex(instruction, "headers", &headers);
        for (size_t h = 0; h < json_object_array_length(headers); ++h) {
            json_object* header = json_object_array_get_idx(headers, h);
            config += std::string("header = \"") + json_member_string(header, "name") + ": " +
                      json_member_string(header, "value") + "\"\n";
        }
    }
    return config;
}

bool command(SimBoard& board, const char* line, std::chrono::milliseconds within) {
    size_t from = board.mcu_received().size();
    board.mcu_send(line);
    return !board.mcu_answer(from, within).empty();
}

int fail(const SimBoard& board, const char* why) {
    std::fprintf(stderr, "%s\n== Event log\n%s\n", why, board.read_file("/media/sdcard/log.txt").c_str());
    return 1;
}

struct Round {
    double wall = 0;
    double untilFirstRequest = 0;
    size_t requests = 0;
    Counters used{};
    long peakKb = 0;
};

// Measures `work` by what it costs and what reached the cloud; false when
// it did not store `pictures` more pictures.
template <typename Work>
bool measure(const CloudEmulator& cloud, size_t pictures, Round& round, Work work) {
    const Counters start = counters(cloud);
    const size_t requestsBefore = cloud.requests().size();
    const size_t storedBefore = cloud.pictures().size();
    const auto clock = Clock::now();
    const bool worked = work();
    round.wall = seconds_since(clock);
    const Counters end = counters(cloud);
    round.used = {end.connections - start.connections, end.handshakes - start.handshakes};
    const std::vector<CloudRequest> requests = cloud.requests();
    round.requests = requests.size() - requestsBefore;
    if (round.requests > 0)
        round.untilFirstRequest = std::chrono::duration<double>(requests[requestsBefore].when - clock).count();
    return worked && cloud.pictures().size() == storedBefore + pictures;
}

double median(std::vector<Round> rounds, double Round::*field) {
    std::sort(rounds.begin(), rounds.end(), [field](const Round& a, const Round& b) { return a.*field < b.*field; });
    return rounds[rounds.size() / 2].*field;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const int delayMs = argc > 3 ? std::atoi(argv[3]) : 0;
    SimBoard::Options options;
    options.clockSpeed = 20;  // the modem's bring-up; the sync itself does not sleep
    SimBoard board(options);
    CloudScenario scenario;
    CloudEmulator cloud(scenario);
    const bool started = count >= 1 && rounds >= 1 && delayMs >= 0 && cloud.start();
    DelayingRelay relay(cloud.port(), std::chrono::milliseconds(delayMs));
    if (started && delayMs > 0 && relay.start()) cloud.reach_through(relay.host());
    if (!started || (delayMs > 0 && cloud.host() != relay.host()) ||
        !cloud_emulator_attach(cloud, scenario, board.root())) {
        std::fprintf(stderr, "usage: sync_bench [PICTURES [ROUNDS [DELAY_MS]]]; the cloud emulator must start\n");
        return 1;
    }
    const std::string staged = board.path("/sim/bench/");
    const std::string transmit = board.path("/media/sdcard/transmit/");
    const std::string ca = board.path("/usrdata/cacert.pem");
    fs::create_directories(transmit);
    fs::create_directories(staged);
    const std::vector<std::string> names = write_copies(staged, count);
    uintmax_t bytes = 0;
    for (const auto& name : names) bytes += fs::file_size(staged + name);

    if (!board.start_daemon() || !board.mcu_wait_for("RDY\r\n", 10s)) return fail(board, "the daemon did not start");
    const pid_t pid = board.daemon_pid();
    // Warm-up: the data call comes up and the token is fetched and kept, as
    // for every sync but a device's first.
    if (!command(board, "qz+cell\r", 30s) || !command(board, "qz+sync\r", 120s) || cloud.camera_documents().empty())
        return fail(board, "the warm-up sync did not reach the cloud");
    const long before = status_kb(pid, "VmRSS:");

    // Rounds alternate, so that both see the same load on the machine.
    std::vector<Round> daemonRounds(static_cast<size_t>(rounds)), curlRounds(static_cast<size_t>(rounds));
    for (size_t r = 0; r < daemonRounds.size(); ++r) {
        for (const auto& name : names) fs::copy_file(staged + name, transmit + name);
        reset_peak(pid);
        if (!measure(cloud, names.size(), daemonRounds[r], [&] { return command(board, "qz+sync\r", 300s); }))
            return fail(board, "the sync did not store every picture");
        daemonRounds[r].peakKb = status_kb(pid, "VmHWM:");

        const std::string config = curl_uploads(cloud, ca, staged, names);
        if (config.empty()) return fail(board, "the cloud gave curl no instructions");
        sim_write_file(staged + "curl.conf", config);
        std::string ignored;
        if (!measure(cloud, names.size(), curlRounds[r],
                     [&] { return sim_run("curl -sS -K " + staged + "curl.conf", ignored) == 0; }))
            return fail(board, "curl did not store every picture");
    }

    const Round& d = daemonRounds.back();
    const Round& c = curlRounds.back();
    long peak = 0;
    for (const auto& round : daemonRounds) peak = std::max(peak, round.peakKb);
    const double daemonWall = median(daemonRounds, &Round::wall), curlWall = median(curlRounds, &Round::wall);
    std::printf("\n%d transmit copies of %ju bytes on average, %d rounds (medians), %d ms added each way\n\n",
                count, bytes / static_cast<uintmax_t>(count), rounds, delayMs);
    std::printf("| measure | daemon \"sync\" | curl, one run |\n|---|---|---|\n");
    std::printf("| wall time | %.3f s | %.3f s |\n", daemonWall, curlWall);
    std::printf("| wall time ratio (daemon / curl) | %.2f | 1 |\n", daemonWall / curlWall);
    std::printf("| from the start to the first request | %.3f s | %.3f s |\n",
                median(daemonRounds, &Round::untilFirstRequest), median(curlRounds, &Round::untilFirstRequest));
    std::printf("| requests | %zu | %zu |\n", d.requests, c.requests);
    std::printf("| TCP connections | %d | %d |\n", d.used.connections, c.used.connections);
    std::printf("| TLS handshakes | %d | %d |\n", d.used.handshakes, c.used.handshakes);
    std::printf("| daemon resident memory before the syncs | %ld kB | |\n", before);
    std::printf("| daemon peak resident memory during a sync (VmHWM) | %ld kB | |\n", peak);
    board.mcu_send("qz+powerdown\r");
    board.wait_exit(5s);
    return 0;
}
