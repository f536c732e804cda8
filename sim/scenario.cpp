#include "sim/scenario.h"

#include "sim/camera_card.h"
#include "sim/cloud_emulator.h"
#include "core/json_util.h"
#include "sim/modem_board.h"
#include "sim/scenario_reader.h"
#include "sim/sim_files.h"
#include "sim/update_package.h"

#include <json-c/json.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>
#include <thread>

namespace {

std::atomic<int> g_stopSignal{0};

void note_stop(int signal) { g_stopSignal = signal; }

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const char* const kLegend =
    "  MCU -> text   the MCU sends the daemon a line (dev/ttyHS0)\n"
    "  MCU <- text   the daemon sends the MCU bytes, one transcript line per read\n"
    "  AT  <- text   the daemon sends the modem's AT port a line (dev/smd9)\n"
    "  --- text      a note of the scenario or the board\n"
    "  <CR> <LF>     carriage return, line feed: the end of a line\n"
    "  <ACK>         0x06, keep-alive: a long command (transfer, process, sync, firstsync) is still at work\n"
    "  <EOT>         0x04, end mark: the command has finished; the text before it is its answer:\n"
    "                \"1<EOT>\" after transfer means copied (0: failed), \"0 0<CR><LF>\" after getnextsync\n"
    "                is the next sync's hour and minute (the README's MCU command table has every answer)\n"
    "  <NUL>, <1B>   other control bytes, by name or in hex\n";

std::string text_member(json_object* step, const char* key) {
    const char* text = json_member_raw_string(step, key);
    return text ? text : "";
}

// A number of seconds; -1 when the member is missing.
double seconds_member(json_object* step, const char* key) {
    json_object* value = nullptr;
    if (!json_object_object_get_ex(step, key, &value)) return -1;
    return json_object_get_double(value);
}

milliseconds ms(double seconds) { return milliseconds(static_cast<long>(seconds * 1000)); }

// Waits until the event log holds the text; notes how long that took.
bool wait_log(SimBoard& board, const std::string& text, milliseconds within) {
    const auto start = Clock::now();
    while (board.read_file("/media/sdcard/log.txt").find(text) == std::string::npos) {
        if (Clock::now() - start > within || board.stopped_by() != 0) return false;
        std::this_thread::sleep_for(milliseconds(50));
    }
    const auto waited = std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
    board.note("the event log shows \"" + text + "\" after " + std::to_string(waited) + " ms");
    return true;
}

// Plays one step; why it failed, empty when it did not.
std::string play_step(SimBoard& board, json_object* step) {
    if (auto note = text_member(step, "note"); !note.empty()) board.note(note);
    if (double pause = seconds_member(step, "pause"); pause >= 0) {
        const auto end = Clock::now() + ms(pause);
        while (Clock::now() < end && board.stopped_by() == 0)
            std::this_thread::sleep_for(
                std::min(milliseconds(50), std::chrono::duration_cast<milliseconds>(end - Clock::now())));
    }
    double within = seconds_member(step, "within");
    if (within < 0) within = 10;
    const std::string logged = text_member(step, "wait_log");
    if (!logged.empty() && !wait_log(board, logged, ms(within))) {
        std::ostringstream why;
        why << "no \"" << logged << "\" in the event log within " << within << " s";
        return why.str();
    }
    const std::string expected = text_member(step, "expect");
    if (!expected.empty() && !board.mcu_wait_for(expected, ms(within)))
        return "no \"" + sim_printable(expected) + "\" from the daemon";
    auto line = text_member(step, "send");
    if (!line.empty()) {
        size_t before = board.mcu_received().size();
        board.mcu_send(line);
        double answerWithin = seconds_member(step, "answer_within");
        if (answerWithin >= 0 && board.mcu_answer(before, ms(answerWithin)).empty())
            return "no end mark after \"" + sim_printable(line) + "\"";
    }
    const double exitWithin = seconds_member(step, "exit_within");
    if (exitWithin >= 0 && board.wait_exit(ms(exitWithin)) < 0)
        return "the daemon did not end after \"" + sim_printable(line) + "\"";
    return {};
}

int int_member(json_object* object, const char* key, int fallback) {
    json_object* value = nullptr;
    if (!json_object_object_get_ex(object, key, &value)) return fallback;
    return json_object_get_int(value);
}

bool bool_member(json_object* object, const char* key, bool fallback) {
    json_object* value = nullptr;
    if (!json_object_object_get_ex(object, key, &value)) return fallback;
    return json_object_get_boolean(value);
}

void prepare_camera(const SimBoard& board, json_object* scenario) {
    json_object* camera = nullptr;
    if (json_object_object_get_ex(scenario, "camera_card", &camera)) {
        CameraCard card;
        card.pictures = int_member(camera, "pictures", card.pictures);
        card.oldPictures = int_member(camera, "old_pictures", card.oldPictures);
        card.width = int_member(camera, "width", card.width);
        card.height = int_member(camera, "height", card.height);
        card.withoutExif = bool_member(camera, "without_exif", card.withoutExif);
        card.notAPicture = bool_member(camera, "not_a_picture", card.notAPicture);
        card.movie = bool_member(camera, "movie", card.movie);
        camera_card_fill(board.root(), card);
    }
    if (int failures = int_member(scenario, "transfer_failures", 0); failures > 0)
        camera_card_fail_transfers(board.root(), failures);
}

// "update_package": {"manifest": {...}, "firmware_file": "x.hex"}; why it failed, empty when it did not.
std::string prepare_update(const SimBoard& board, json_object* scenario) {
    json_object* package = json_member_object(scenario, "update_package");
    if (package == nullptr) return {};
    UpdatePackage update;
    json_object* manifest = json_member_object(package, "manifest");
    update.manifest = manifest ? json_object_to_json_string_ext(manifest, JSON_C_TO_STRING_PLAIN) : "";
    if (const char* firmware = json_member_raw_string(package, "firmware_file")) {
        update.firmware = sim_read_file(firmware);
        if (update.firmware.empty()) return std::string("cannot read update_package.firmware_file ") + firmware;
    }
    return update_package_lay(board.root(), update) ? "" : "cannot lay the update package";
}

LoaderFaults loader_faults(json_object* scenario) {
    json_object* loader = json_member_object(scenario, "mcu_loader");
    LoaderFaults faults;
    faults.resendAt = int_member(loader, "resend_at", faults.resendAt);
    faults.refuseAt = int_member(loader, "refuse_at", faults.refuseAt);
    faults.silentAt = int_member(loader, "silent_at", faults.silentAt);
    return faults;
}

void prepare_modem(const SimBoard& board, json_object* scenario) {
    json_object* modem = nullptr;
    if (json_object_object_get_ex(scenario, "modem", &modem) && json_object_is_type(modem, json_type_object))
        modem_board_set_scenario(board.root(), json_object_to_json_string_ext(modem, JSON_C_TO_STRING_PLAIN));
}

// The cloud service, when the scenario has one, pointed at from the device root.
std::unique_ptr<CloudEmulator> prepare_cloud(const SimBoard& board, json_object* scenario) {
    json_object* member = json_member_object(scenario, "cloud");
    CloudScenario knobs;
    if (member == nullptr || !cloud_scenario_parse(json_object_to_json_string(member), knobs)) return nullptr;
    auto cloud = std::make_unique<CloudEmulator>(knobs);
    if (!cloud->start() || !cloud_emulator_attach(*cloud, knobs, board.root())) return nullptr;
    return cloud;
}

void list_folder(const SimBoard& board, const char* folder, std::ostream& out) {
    namespace fs = std::filesystem;
    std::vector<std::pair<std::string, uintmax_t>> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(board.path(folder), error))
        if (entry.is_regular_file()) files.emplace_back(entry.path().filename(), entry.file_size());
    std::sort(files.begin(), files.end());
    out << "== " << folder << " (" << files.size() << " files)\n";
    for (const auto& [name, size] : files) out << "  " << name << "  " << size << " bytes\n";
}

// The files the cloud stored, under the root where they can be opened.
void save_cloud_files(const SimBoard& board, const CloudEmulator& cloud) {
    for (const auto& file : cloud.pictures())
        sim_write_file(board.path("/sim/cloud/") + std::filesystem::path(file.name).filename().string(),
                       file.bytes);
}

void report(const SimBoard& board, const CloudEmulator* cloud, std::ostream& out) {
    out << "== Transcript\n" << kLegend << board.transcript();
    for (const char* folder : {"/media/sdcard/process/", "/media/sdcard/original/", "/media/sdcard/transmit/"})
        list_folder(board, folder, out);
    if (cloud) out << cloud_emulator_report(*cloud) << "  copied to " << board.path("/sim/cloud/") << "\n";
    out << "== Commands run on the board\n";
    for (const auto& command : board.commands_run()) out << "  " << command << "\n";
    if (std::string image = board.read_file("/sim/mcu_flash.bin"); !image.empty())
        out << "== MCU flashed: sim/mcu_flash.bin (" << image.size() << " bytes)\n";
    out << "== Event log (/media/sdcard/log.txt)\n" << board.read_file("/media/sdcard/log.txt");
    out << "== Daemon standard output\n" << board.daemon_output() << "\n";
}

std::string play_steps(SimBoard& board, json_object* scenario) {
    json_object* steps = json_member_array(scenario, "steps");
    for (size_t i = 0; steps && i < json_object_array_length(steps); ++i) {
        json_object* step = json_object_array_get_idx(steps, i);
        std::string failure = board.stopped_by() == 0 ? play_step(board, step) : "";
        if (board.stopped_by() != 0) return "steps[" + std::to_string(i) + "]";
        if (!failure.empty()) return "steps[" + std::to_string(i) + "]: " + failure;
    }
    return {};
}

}  // namespace

void scenario_stop_on_signals(SimBoard::Options& options) {
    struct sigaction action {};
    action.sa_handler = note_stop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
    options.stop = &g_stopSignal;
}

int run_scenario(const std::string& file, SimBoard::Options options, std::ostream& out) {
    std::string error;
    JsonPtr scenario = scenario_read(file, error);
    if (!scenario) {
        out << error << "\n";
        return 2;
    }
    if (double speed = seconds_member(scenario.get(), "clock_speed"); speed > 0)
        options.clockSpeed = speed;
    options.withSdCard = bool_member(scenario.get(), "sd_card", options.withSdCard);
    options.loaderFaults = loader_faults(scenario.get());

    SimBoard board(options);
    out << "Device root: " << board.root() << "\n";
    prepare_camera(board, scenario.get());
    prepare_modem(board, scenario.get());
    std::unique_ptr<CloudEmulator> cloud = prepare_cloud(board, scenario.get());
    const bool cloudStarted = cloud || !json_member_object(scenario.get(), "cloud");
    std::string failure = cloudStarted ? "" : "cannot start the cloud service";
    if (failure.empty()) failure = prepare_update(board, scenario.get());
    if (auto description = text_member(scenario.get(), "description"); !description.empty())
        board.note(description);
    if (failure.empty() && !board.start_daemon()) failure = "qz_daemon did not start";
    if (failure.empty()) failure = play_steps(board, scenario.get());
    const int signal = board.stopped_by();
    if (signal != 0)
        failure = "by SIG" + std::string(sigabbrev_np(signal)) + (failure.empty() ? "" : " at " + failure);
    if (!failure.empty()) board.note((signal != 0 ? "stopped " : "FAILED: ") + failure);
    board.stop_daemon();
    if (cloud) {
        cloud->stop();
        save_cloud_files(board, *cloud);
    }
    report(board, cloud.get(), out);
    if (!failure.empty()) board.keep_root();
    if (board.keeps_root())
        out << "The device root stays: " << board.root() << "\n";
    else
        out << "The device root goes now: " << board.root()
            << " (QZ_SIM_KEEP_ROOT=1 or --root DIR keeps it)\n";
    if (signal != 0) {
        out << "Scenario stopped " << failure << "\n";
        return 128 + signal;
    }
    out << (failure.empty() ? "Scenario passed\n" : "Scenario FAILED: " + failure + "\n");
    return failure.empty() ? 0 : 1;
}
