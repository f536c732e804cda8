// A "sync" of the real daemon against the cloud emulator playing each way a
// service can misbehave: the sync's time on the daemon's clock (the board runs
// it faster), the daemon's peak resident memory (VmHWM), the bytes of the
// requests it sent and of the answers it was sent, the requests, the longest
// silence towards the MCU, and what the cloud stored and the card kept.
// Usage: hostile_service [--daemon PATH] [MODE...] (default: every mode; a
// mode is named by the start of its name, e.g. "silent"; PATH: another
// build's qz_daemon, to compare)
#include <cstdio>
#include <string>
#include <vector>

#include "sim/hostile_sync.h"

namespace {

bool chosen(const HostileMode& mode, const std::vector<std::string>& names) {
    if (names.empty()) return true;
    for (const std::string& name : names)
        if (mode.name.rfind(name, 0) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> names(argv + 1, argv + argc);
    std::string daemon;
    if (names.size() >= 2 && names[0] == "--daemon") {
        daemon = names[1];
        names.erase(names.begin(), names.begin() + 2);
    }
    std::printf(
        "| mode | sync | VmHWM | sent / received | requests | longest silence | stored / kept |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    int failed = 0;
    for (const HostileMode& mode : hostile_modes()) {
        if (!chosen(mode, names)) continue;
        const HostileRun run = hostile_sync_run(mode, daemon);
        if (!run.failure.empty() || !run.ended) {
            std::printf("| %s | %s |\n", mode.name.c_str(),
                        run.failure.empty() ? "no end mark" : run.failure.c_str());
            ++failed;
            continue;
        }
        std::printf("| %s | %.1f s | %.1f MiB | %zu / %zu bytes | %zu | %.1f s | %zu / %zu |\n",
                    mode.name.c_str(), run.seconds, static_cast<double>(run.peakKb) / 1024,
                    run.traffic.received, run.traffic.sent, run.requests, run.longestSilence,
                    run.stored.size(), run.kept.size());
        std::fflush(stdout);
    }
    return failed == 0 ? 0 : 1;
}
