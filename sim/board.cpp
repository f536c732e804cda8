#include "sim/board.h"

#include "sim/at_modem.h"
#include "sim/camera_card.h"
#include "sim/sim_files.h"

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

#ifndef QZ_DAEMON_EMULATOR
#define QZ_DAEMON_EMULATOR ""
#define QZ_TARGET_LOADER ""
#endif
constexpr bool kUnderEmulator = sizeof(QZ_DAEMON_EMULATOR) > 1;

// A stand-in that records "<name> <arguments>" and does nothing else.
std::string recorder_script(const std::string& root, const std::string& name) {
    return "#!/bin/sh\n" + sim_record_line(root, name) + "exit 0\n";
}

// Reads whatever is there within 100 ms; empty when nothing came.
std::string read_some(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN)) return {};
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

// Removes CAP_SYS_TIME so that nothing the daemon does can set the host's clock.
void drop_clock_capability() {
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return;
    data[0].inheritable &= ~(1u << CAP_SYS_TIME);
    data[0].effective &= ~(1u << CAP_SYS_TIME);
    data[0].permitted &= ~(1u << CAP_SYS_TIME);
    syscall(SYS_capset, &header, data);
}

pid_t find_child_named(const char* name) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return -1;
    pid_t found = -1;
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        auto open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == self && line.substr(open + 1, close - open - 1) == name) {
            found = static_cast<pid_t>(std::atoi(entry->d_name));
            break;
        }
    }
    closedir(proc);
    return found;
}

std::vector<std::string> daemon_environment(const std::string& root, double speed) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        if (entry.rfind("QZ_", 0) == 0 || entry.rfind("LD_PRELOAD=", 0) == 0 ||
            entry.rfind("ASAN_OPTIONS=", 0) == 0)
            continue;
        env.push_back(entry);
    }
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back(std::string("ASAN_OPTIONS=verify_asan_link_order=0") + (asan ? ":" : "") +
                  (asan ? asan : ""));
    env.push_back("QZ_ROOT=" + root);
    env.push_back("QZ_SIM_SPEED=" + std::to_string(speed));
    if (!kUnderEmulator) env.push_back(std::string("LD_PRELOAD=") + QZ_FASTCLOCK_PATH);
    return env;
}

// The daemon's command line. A cross build's daemon runs under the emulator
// (binfmt_misc is not there to do it), with the clock shim given to the
// target's loader rather than in LD_PRELOAD, which the host programs the
// daemon starts would inherit and refuse.
std::vector<std::string> daemon_command(const std::string& program) {
    if (!kUnderEmulator) return {"qz_daemon"};
    return {QZ_DAEMON_EMULATOR, QZ_TARGET_LOADER, "--preload", QZ_FASTCLOCK_PATH, program};
}

}  // namespace

std::string sim_printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
            case '\r': out += "<CR>"; break;
            case '\n': out += "<LF>"; break;
            case 0x04: out += "<EOT>"; break;
            case 0x06: out += "<ACK>"; break;
            case 0x00: out += "<NUL>"; break;
            default:
                if (c < 0x20 || c >= 0x7f) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "<%02X>", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

SimBoard::SimBoard(Options options) : options_(std::move(options)) {
    // The daemon leaves its working folder when it detaches: the root must not be relative.
    root_ = options_.root.empty() ? "" : fs::absolute(options_.root).string();
    if (root_.empty()) {
        char pattern[] = "/tmp/qz_sim.XXXXXX";
        root_ = mkdtemp(pattern);
        keepRoot_ = std::getenv("QZ_SIM_KEEP_ROOT") != nullptr;
    }
    lay_out_root();
    open_ports();
}

SimBoard::~SimBoard() {
    stop_daemon();
    stopping_ = true;
    if (mcuThread_.joinable()) mcuThread_.join();
    if (atThread_.joinable()) atThread_.join();
    for (int fd : {mcuMaster_, mcuSlave_, atMaster_, atSlave_})
        if (fd >= 0) close(fd);
    if (!keepRoot_) {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
}

void SimBoard::lay_out_root() {
    for (const char* dir : {"/bin", "/dev", "/etc", "/usrdata", "/sys/power", "/sys/class/gpio",
                            "/tmp", "/sim", "/media", "/home/root"})
        fs::create_directories(root_ + dir);
    if (options_.withSdCard) fs::create_directories(root_ + "/media/sdcard");
    sim_write_file(root_ + "/sys/power/wake_lock", "");
    sim_write_file(root_ + "/sim/commands.log", "");
    install_stand_ins();
    modemBoard_.lay_out(root_);
    const std::string installed = root_ + "/usrdata/qz_daemon";
    if (options_.daemonInUsrdata && !fs::exists(installed)) {
        fs::copy_file(options_.daemonPath.empty() ? QZ_DAEMON_PATH : options_.daemonPath, installed);
        fs::permissions(installed, fs::perms(0755));
    }
}

std::string SimBoard::daemon_program() const {
    if (options_.daemonInUsrdata) return root_ + "/usrdata/qz_daemon";
    return options_.daemonPath.empty() ? QZ_DAEMON_PATH : options_.daemonPath;
}

void SimBoard::install_stand_ins() {
    for (const char* name :
         {"halt", "reboot", "sys_reboot", "swapon", "swapoff", "mkswap", "ntpd"})
        sim_write_file(root_ + "/bin/" + name, recorder_script(root_, name), 0755);
    sim_write_file(root_ + "/usrdata/prune.sh", recorder_script(root_, "/usrdata/prune.sh"), 0755);
    camera_card_install_scripts(root_);
}

void SimBoard::open_ports() {
    std::string name;
    mcuMaster_ = sim_open_pty(mcuSlave_, name);
    if (options_.withMcuPort) fs::create_symlink(name, root_ + "/dev/ttyHS0");
    atMaster_ = sim_open_pty(atSlave_, name);
    fs::create_symlink(name, root_ + "/dev/smd9");
    mcuThread_ = std::thread(&SimBoard::mcu_reader, this);
    atThread_ = std::thread(&SimBoard::at_reader, this);
}

void SimBoard::mcu_reader() {
    while (!stopping_) {
        std::string bytes = read_some(mcuMaster_);
        if (bytes.empty()) continue;
        if (loader_) {
            loader_input(bytes);
            continue;
        }
        size_t update = bytes.find("UPD\r\n");
        std::string command = update == std::string::npos ? bytes : bytes.substr(0, update + 5);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back({Clock::now(), command});
            receivedAll_ += command;
            transcript_.push_back("MCU <- " + sim_printable(command));
        }
        if (update == std::string::npos) continue;
        loader_ = std::make_unique<McuLoader>(options_.loaderFaults);
        mcu_loader_send(mcuMaster_, mcuSlave_, loader_->start());
        loader_input(bytes.substr(update + 5));
    }
}

void SimBoard::loader_input(const std::string& bytes) {
    std::vector<uint8_t> answers = loader_->take(bytes);
    for (const auto& line : loader_->take_notes()) note(line);
    mcu_loader_send(mcuMaster_, mcuSlave_, answers, loader_->answers_together());
    if (!loader_->finished()) return;
    if (loader_->flashed()) {
        // Whole or not at all: a test reads the image as soon as the name appears.
        const std::string image = path("/sim/mcu_flash.bin");
        sim_write_file(image + ".part", loader_->image());
        std::rename((image + ".part").c_str(), image.c_str());
    }
    loader_.reset();
}

void SimBoard::at_reader() {
    AtInterpreter modem(root_);
    std::string line;
    while (!stopping_) {
        for (char c : read_some(atMaster_)) {
            if (c != '\r') {
                line += c;
                continue;
            }
            AtReply reply = modem.answer(line);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                atCommands_.push_back(line);
                transcript_.push_back("AT  <- " + sim_printable(line + "\r"));
                for (const auto& [prefix, canned] : atAnswers_)
                    if (line.rfind(prefix, 0) == 0) reply = AtReply{canned, 0, false};
            }
            line.clear();
            if (reply.silent) continue;
            if (reply.delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(reply.delay));
            std::string framed = "\r\n" + reply.text + "\r\n";
            if (write(atMaster_, framed.data(), framed.size()) < 0) return;
        }
    }
}

bool SimBoard::start_daemon() {
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);
    std::string program = daemon_program();
    std::vector<std::string> env = daemon_environment(root_, options_.clockSpeed);
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string out = root_ + "/sim/daemon.out";
    std::vector<std::string> command = daemon_command(program);
    std::vector<char*> argv;
    for (auto& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);
    const std::string executable = kUnderEmulator ? command.front() : program;

    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        int output = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        int input = open("/dev/null", O_RDONLY);
        dup2(input, 0);
        dup2(output, 1);
        dup2(output, 2);
        drop_clock_capability();
        execvpe(executable.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    // Under the emulator the daemon detaches in place (see fastclock.c).
    if (kUnderEmulator) daemonPid_ = child;
    int status = 0;
    if (!kUnderEmulator) waitpid(child, &status, 0);
    for (int tries = 0; tries < 300 && daemonPid_ < 0; ++tries) {
        daemonPid_ = find_child_named("qz_daemon");
        if (daemonPid_ < 0) usleep(10000);
    }
    note(daemonPid_ > 0 ? "qz_daemon started, pid " + std::to_string(daemonPid_)
                        : "qz_daemon did not start");
    return daemonPid_ > 0;
}

int SimBoard::wait_exit(std::chrono::milliseconds timeout) {
    if (daemonPid_ <= 0) return exitStatus_;
    auto deadline = Clock::now() + timeout;
    do {
        int status = 0;
        if (waitpid(daemonPid_, &status, WNOHANG) == daemonPid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            daemonPid_ = -1;
            note("qz_daemon ended with status " + std::to_string(exitStatus_));
            return exitStatus_;
        }
        usleep(10000);
    } while (Clock::now() < deadline && stopped_by() == 0);
    return -1;
}

void SimBoard::stop_daemon() {
    if (daemonPid_ <= 0) return;
    kill(daemonPid_, SIGKILL);
    waitpid(daemonPid_, nullptr, 0);
    daemonPid_ = -1;
}

void SimBoard::mcu_send(const std::string& bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        transcript_.push_back("MCU -> " + sim_printable(bytes));
    }
    if (write(mcuMaster_, bytes.data(), bytes.size()) < 0) note("MCU write failed");
}

bool SimBoard::mcu_wait_for(const std::string& needle, std::chrono::milliseconds timeout,
                            size_t from) const {
    auto deadline = Clock::now() + timeout;
    do {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (receivedAll_.find(needle, from) != std::string::npos) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline && stopped_by() == 0);
    return false;
}

std::string SimBoard::mcu_received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return receivedAll_;
}

std::vector<SimBoard::Received> SimBoard::mcu_chunks() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

std::string SimBoard::mcu_answer(size_t from, std::chrono::milliseconds timeout) const {
    if (!mcu_wait_for(std::string(1, '\x04'), timeout, from)) return {};
    std::lock_guard<std::mutex> lock(mutex_);
    size_t end = receivedAll_.find('\x04', from);
    return receivedAll_.substr(from, end - from + 1);
}

void SimBoard::at_answer(const std::string& commandPrefix, const std::string& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    atAnswers_.emplace_back(commandPrefix, answer);
}

std::vector<std::string> SimBoard::at_commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return atCommands_;
}

std::vector<std::string> SimBoard::commands_run() const {
    return sim_recorded_calls(read_file("/sim/commands.log"));
}

std::string SimBoard::read_file(const std::string& devicePath) const {
    return sim_read_file(root_ + devicePath);
}

std::string SimBoard::sanitizer_report() const { return sim_sanitizer_report(daemon_output()); }

std::string sim_sanitizer_report(const std::string& output) {
    size_t first = std::string::npos;
    for (const char* mark : {"Sanitizer", "runtime error:"})
        first = std::min(first, output.find(mark));
    if (first == std::string::npos) return {};
    const size_t lineEnd = output.rfind('\n', first);
    return output.substr(lineEnd == std::string::npos ? 0 : lineEnd + 1);
}

std::string SimBoard::transcript() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const auto& line : transcript_) text += line + "\n";
    return text;
}

void SimBoard::note(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    transcript_.push_back("--- " + line);
}
