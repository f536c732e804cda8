#pragma once
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/mcu_loader.h"
#include "sim/modem_board.h"

// The simulated board around qz_daemon: a device root on disk, the MCU and
// the modem's AT interpreter on two pseudo-terminals, and the daemon process.
class SimBoard {
public:
    struct Options {
        std::string root;         // empty: a fresh folder under /tmp
        std::string daemonPath;   // empty: the qz_daemon of this build
        bool daemonInUsrdata = false;  // copied to usrdata/qz_daemon and started from there, as on the module
        double clockSpeed = 1.0;  // >1 makes the daemon's sleeps that much shorter
        bool withSdCard = true;
        bool withMcuPort = true;
        LoaderFaults loaderFaults;  // how the MCU's loader misbehaves
        // Once set (to a signal's number), every wait of the board ends at once.
        const std::atomic<int>* stop = nullptr;
    };
    struct Received {
        std::chrono::steady_clock::time_point when;
        std::string bytes;
    };

    explicit SimBoard(Options options);
    SimBoard() : SimBoard(Options{}) {}
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    const std::string& root() const { return root_; }
    // The signal that stopped the run, 0 while it goes on.
    int stopped_by() const { return options_.stop != nullptr ? options_.stop->load() : 0; }
    // A root of its own goes with the board unless QZ_SIM_KEEP_ROOT is set or this is called.
    void keep_root() { keepRoot_ = true; }
    bool keeps_root() const { return keepRoot_; }
    std::string path(const std::string& devicePath) const { return root_ + devicePath; }

    // Starts qz_daemon on this root and follows it after it detaches.
    bool start_daemon();
    pid_t daemon_pid() const { return daemonPid_; }
    // Waits for the daemon to end; its exit status, or -1 when it did not end in time.
    int wait_exit(std::chrono::milliseconds timeout);
    void stop_daemon();

    // MCU side. Everything the daemon sends is kept, with the time it arrived.
    void mcu_send(const std::string& bytes);
    bool mcu_wait_for(const std::string& needle, std::chrono::milliseconds timeout,
                      size_t from = 0) const;
    std::string mcu_received() const;
    std::vector<Received> mcu_chunks() const;
    // Reads from `from` up to and including the next end mark 0x04; empty on time-out.
    std::string mcu_answer(size_t from, std::chrono::milliseconds timeout) const;

    // AT side: the daemon's AT lines, and canned answers by command prefix.
    void at_answer(const std::string& commandPrefix, const std::string& answer);
    std::vector<std::string> at_commands() const;

    // What the board's stand-in commands and scripts were asked to do, one line each.
    std::vector<std::string> commands_run() const;
    std::string read_file(const std::string& devicePath) const;
    std::string daemon_output() const { return read_file("/sim/daemon.out"); }
    // The daemon's output from the first sanitizer report on; empty when there is none.
    std::string sanitizer_report() const;

    // A readable transcript of both links.
    std::string transcript() const;
    void note(const std::string& line);

private:
    void lay_out_root();
    std::string daemon_program() const;
    void install_stand_ins();
    void open_ports();
    void mcu_reader();
    // After "UPD\r\n" the MCU's loader takes the bytes until its end packet.
    void loader_input(const std::string& bytes);
    void at_reader();

    Options options_;
    std::string root_;
    bool keepRoot_ = true;
    int mcuMaster_ = -1, mcuSlave_ = -1, atMaster_ = -1, atSlave_ = -1;
    pid_t daemonPid_ = -1;
    int exitStatus_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread mcuThread_, atThread_;
    mutable std::mutex mutex_;
    std::vector<Received> received_;
    std::string receivedAll_;
    std::vector<std::string> atCommands_;
    std::vector<std::pair<std::string, std::string>> atAnswers_;
    std::vector<std::string> transcript_;
    std::unique_ptr<McuLoader> loader_;  // only the MCU reader thread uses it
    ModemBoard modemBoard_;
};

// A program's output from the first sanitizer report on; empty when there is none.
std::string sim_sanitizer_report(const std::string& output);

// Shows control bytes readably: "RDY<CR><LF>", "<ACK>", "<EOT>".
std::string sim_printable(const std::string& bytes);
