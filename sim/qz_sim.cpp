// qz_sim: runs qz_daemon on a simulated board from a scenario file.
#include <cstring>
#include <filesystem>
#include <iostream>

#include "sim/scenario.h"

namespace {

int usage() {
    std::cerr << "usage: qz_sim SCENARIO.json [--root DIR] [--daemon PATH]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc % 2 != 0) return usage();
    SimBoard::Options options;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--root") == 0)
            options.root = argv[i + 1];
        else if (std::strcmp(argv[i], "--daemon") == 0)
            options.daemonPath = argv[i + 1];
        else
            return usage();
    }
    std::error_code error;
    if (!options.root.empty() && !std::filesystem::is_empty(options.root, error) && !error) {
        std::cerr << "qz_sim: " << options.root << " is not empty: give a new or empty folder\n";
        return 2;
    }
    scenario_stop_on_signals(options);
    return run_scenario(argv[1], options, std::cout);
}
