// One "sync" of the real daemon that uploads transmit copies to the cloud
// emulator on loopback, against Debian's curl uploading the same files in one
// invocation: wall time, TCP connections and TLS handshakes, the daemon's
// peak memory during the sync.
#include <json-c/json.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board.h"
#include "cloud_emulator.h"
#include "json_util.h"
#include "pictures.h"
#include "sim_files.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// "VmRSS" or "VmHWM" of a process, in kB; 0 when it cannot be read.
long status_kb(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size() + 1);
    return 0;
}

// Starts the peak resident memory (VmHWM) afresh from the current size.
void reset_peak(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

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
    sim_run(curl + "-X PUT -H 'Authorization: Bearer " + bearer + "' -d '" + document + "' " + api + "camera/bench",
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

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 20;
    SimBoard::Options options;
    options.clockSpeed = 20;  // the modem's bring-up; the sync itself does not sleep
    SimBoard board(options);
    CloudScenario scenario;
    CloudEmulator cloud(scenario);
    if (!cloud.start() || !cloud_emulator_attach(cloud, scenario, board.root())) {
        std::fprintf(stderr, "the cloud emulator did not start\n");
        return 1;
    }
    const std::string staged = board.path("/sim/bench/");
    const std::string transmit = board.path("/media/sdcard/transmit/");
    fs::create_directories(transmit);
    fs::create_directories(staged);
    const std::vector<std::string> names = write_copies(staged, count);
    uintmax_t bytes = 0;
    for (const auto& name : names) bytes += fs::file_size(staged + name);
    std::printf("%d transmit copies, %ju bytes on average\n", count, bytes / static_cast<uintmax_t>(count));

    if (!board.start_daemon() || !board.mcu_wait_for("RDY\r\n", 10s)) return fail(board, "the daemon did not start");
    const pid_t pid = board.daemon_pid();
    // Warm-up: the data call comes up and the token is fetched and kept, as
    // for every sync but a device's first.
    if (!command(board, "qz+cell\r", 30s) || !command(board, "qz+sync\r", 120s) || cloud.camera_documents().empty())
        return fail(board, "the warm-up sync did not reach the cloud");

    for (const auto& name : names) fs::copy_file(staged + name, transmit + name);
    reset_peak(pid);
    const long before = status_kb(pid, "VmRSS:");
    const Counters daemonStart = counters(cloud);
    const auto daemonClock = Clock::now();
    const bool synced = command(board, "qz+sync\r", 300s);
    const double daemonWall = seconds_since(daemonClock);
    const Counters daemonEnd = counters(cloud);
    const long peak = status_kb(pid, "VmHWM:");
    const size_t daemonStored = cloud.pictures().size();
    if (!synced || daemonStored != names.size()) return fail(board, "the sync did not store every picture");

    const std::string config = curl_uploads(cloud, board.path("/usrdata/cacert.pem"), staged, names);
    if (config.empty()) return fail(board, "the cloud gave curl no instructions");
    sim_write_file(board.path("/sim/bench/curl.conf"), config);
    const Counters curlStart = counters(cloud);
    std::string ignored;
    const auto curlClock = Clock::now();
    const int curlExit = sim_run("curl -sS -K " + board.path("/sim/bench/curl.conf"), ignored);
    const double curlWall = seconds_since(curlClock);
    const Counters curlEnd = counters(cloud);
    if (curlExit != 0 || cloud.pictures().size() != 2 * names.size()) return fail(board, "curl did not store every picture");

    std::printf("\n| measure | daemon \"sync\" | curl, one run |\n|---|---|---|\n");
    std::printf("| pictures uploaded | %d (%ju bytes, %ju on average) | %d |\n", count, bytes,
                bytes / static_cast<uintmax_t>(count), count);
    std::printf("| wall time | %.3f s | %.3f s |\n", daemonWall, curlWall);
    std::printf("| wall time ratio (daemon / curl) | %.2f | 1 |\n", daemonWall / curlWall);
    std::printf("| TCP connections | %d | %d |\n", daemonEnd.connections - daemonStart.connections,
                curlEnd.connections - curlStart.connections);
    std::printf("| TLS handshakes | %d | %d |\n", daemonEnd.handshakes - daemonStart.handshakes,
                curlEnd.handshakes - curlStart.handshakes);
    std::printf("| daemon resident memory before the sync | %ld kB | |\n", before);
    std::printf("| daemon peak resident memory during the sync (VmHWM) | %ld kB | |\n", peak);
    std::printf("\nThe daemon's sync also PUTs its camera record; curl only uploads.\n");
    board.mcu_send("qz+powerdown\r");
    board.wait_exit(5s);
    return 0;
}
