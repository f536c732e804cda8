#include "sim/modem_board.h"

#include "sim/sim_files.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

const char* const kDefaultModemScenario = R"({
  "imei": "866123045678901",
  "firmware": "QZM01R06A01",
  "slots": [
    {"state": "ready", "iccid": "8944500102198304826F", "imsi": "234500012345678", "pin": "73150284"},
    {"state": "absent"}
  ],
  "signal": {"lte": -95},
  "network": {"radio": 4, "mcc": "234", "mnc": "50", "cell_id": 20811, "lac": 0, "tac": 4660},
  "nitz": "24/05/07,09:03:00+04,0",
  "data_call": {"result": "connect", "delay": 2}
}
)";

namespace {

struct Flag {
    ModemFault fault;
    const char* file;  // under /tmp
};

constexpr Flag kFlags[] = {
    {ModemFault::NoServiceFlag, "mcm_service_ready.flag"},
    {ModemFault::NoDataFlag, "mcm_data_service_ready.flag"},
    {ModemFault::NoLocationFlag, "mcm_loc_service_ready.flag"},
    {ModemFault::NoMobileApFlag, "mcm_mobileap_service_ready.flag"},
    {ModemFault::NoAtcopFlag, "mcm_atcop_service_ready.flag"},
    {ModemFault::NoSimFlag, "mcm_sim_service_ready.flag"},
};

// SoC GPIO numbers of the REV ID lines, revision bit 0 first.
constexpr int kRevisionGpios[] = {76, 21, 42, 11};

// Pages of the pin-configuration registers: one per SoC GPIO number below 256.
constexpr off_t kDevMemSize = 0x01000000 + 0x1000 * 256;

constexpr const char* kStartScript = "/etc/init.d/start_mcm_ril_srv_le";
constexpr const char* kAdcFolder = "/sys/devices/qpnp-vadc-8";

// Starts the RIL service: it runs from now on and raises every flag not withheld.
std::string start_script(const std::string& root) {
    std::string script = "#!/bin/sh\n" + sim_record_line(root, kStartScript) + "touch \"" + root +
                         "/sim/ril_running\"\nfor flag in";
    for (const Flag& flag : kFlags) script += std::string(" ") + flag.file;
    return script + "; do\n  [ -e \"" + root + "/sim/withhold/$flag\" ] || touch \"" + root +
           "/tmp/$flag\"\ndone\nexit 0\n";
}

// pidof knows only the RIL service, and only once it runs.
std::string pidof_script(const std::string& root) {
    return "#!/bin/sh\n" + sim_record_line(root, "pidof") + "if [ -e \"" + root +
           "/sim/ril_running\" ]; then echo 731; exit 0; fi\nexit 1\n";
}

std::map<int, int> input_levels(const std::string& root) {
    std::map<int, int> levels;
    std::istringstream in(sim_read_file(root + "/sim/gpio_inputs"));
    int gpio = 0, level = 0;
    while (in >> gpio >> level) levels[gpio] = level;
    return levels;
}

// What the kernel does for a number written to "export".
void export_gpio(const std::string& root, int gpio) {
    const std::string folder = root + "/sys/class/gpio/gpio" + std::to_string(gpio);
    if (fs::exists(folder)) return;
    const std::string staging = root + "/sys/class/gpio/.staging" + std::to_string(gpio);
    const auto levels = input_levels(root);
    const auto level = levels.find(gpio);
    sim_write_file(staging + "/direction", "in\n");
    sim_write_file(staging + "/value", std::to_string(level == levels.end() ? 0 : level->second) + "\n");
    std::error_code ignored;
    fs::rename(staging, folder, ignored);
}

}  // namespace

void modem_board_withhold(const std::string& root, ModemFault fault) {
    std::error_code ignored;
    for (const Flag& flag : kFlags) {
        if (flag.fault != fault) continue;
        sim_write_file(root + "/sim/withhold/" + flag.file, "");
        fs::remove(root + "/tmp/" + flag.file, ignored);
    }
    if (fault == ModemFault::NoStartScript) fs::remove(root + kStartScript, ignored);
    if (fault == ModemFault::RilSeemsRunning) sim_write_file(root + "/sim/ril_running", "");
    if (fault == ModemFault::NoManagerLock) fs::remove(root + "/tmp/.ql_manager_server.lock", ignored);
}

void modem_board_set_lock(const std::string& root, const std::string& content) {
    sim_write_file(root + "/tmp/.ql_manager_server.lock", content);
}

void modem_board_set_scenario(const std::string& root, const std::string& json) {
    const std::string target = root + "/sim/modem.json";
    sim_write_file(target + ".new", json);
    fs::rename(target + ".new", target);
}

void modem_board_set_revision(const std::string& root, int revision) {
    std::string lines;
    for (int bit = 0; bit < 4; ++bit) {
        const int gpio = kRevisionGpios[bit];
        const int level = ((revision - 1) >> bit) & 1;
        lines += std::to_string(gpio) + " " + std::to_string(level) + "\n";
        const std::string value = root + "/sys/class/gpio/gpio" + std::to_string(gpio) + "/value";
        if (fs::exists(value)) sim_write_file(value, std::to_string(level) + "\n");
    }
    sim_write_file(root + "/sim/gpio_inputs", lines);
}

void modem_board_set_adc(const std::string& root, int millivolts) {
    std::error_code ignored;
    if (millivolts < 0) {
        fs::remove_all(root + kAdcFolder, ignored);
        return;
    }
    // The driver shows microvolts after a 7-character label.
    sim_write_file(root + kAdcFolder + "/mpp4_vadc",
               "Result:" + std::to_string(millivolts * 1000) + " Raw:4e21\n");
}

ModemBoard::~ModemBoard() {
    stopping_ = true;
    if (exporter_.joinable()) exporter_.join();
    if (watch_ >= 0) close(watch_);
}

void ModemBoard::lay_out(const std::string& root) {
    root_ = root;
    for (const char* dir : {"/sim", "/tmp", "/bin", "/dev", "/sys/class/gpio"})
        fs::create_directories(root + dir);
    if (!fs::exists(root + "/sim/commands.log")) sim_write_file(root + "/sim/commands.log", "");
    sim_write_file(root + kStartScript, start_script(root), 0755);
    sim_write_file(root + "/bin/pidof", pidof_script(root), 0755);
    modem_board_set_lock(root, "success\n");
    modem_board_set_scenario(root, kDefaultModemScenario);
    sim_write_file(root + "/sys/class/gpio/export", "");
    sim_write_file(root + "/sys/class/gpio/unexport", "");
    sim_write_file(root + "/dev/mem", "");
    fs::resize_file(root + "/dev/mem", static_cast<uintmax_t>(kDevMemSize));
    modem_board_set_revision(root, kDefaultBoardRevision);
    modem_board_set_adc(root, kDefaultAdcMillivolts);
    for (const char* channel : {"mpp6_vadc", "vbat_sns", "pa_therm1"})
        sim_write_file(root + kAdcFolder + "/" + channel, "Result:0 Raw:0000\n");
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0) inotify_add_watch(watch_, (root + "/sys/class/gpio").c_str(), IN_CLOSE_WRITE);
    exporter_ = std::thread(&ModemBoard::export_watch, this);
}

// Looks at the export file whenever something was written into the folder,
// and every 20 ms besides, so that no write is lost between two looks.
void ModemBoard::export_watch() {
    const std::string folder = root_ + "/sys/class/gpio";
    char events[4096];
    while (!stopping_) {
        pollfd p{watch_, POLLIN, 0};
        if (watch_ >= 0 && poll(&p, 1, 20) > 0) {
            if (read(watch_, events, sizeof events) < 0) continue;
        } else if (watch_ < 0) {
            usleep(20000);
        }
        std::istringstream numbers(sim_read_file(folder + "/export"));
        for (int gpio = 0; numbers >> gpio;) export_gpio(root_, gpio);
    }
}
