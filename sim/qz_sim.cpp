// qz_sim: runs qz_daemon on a simulated board from a scenario file.
#include <cstring>
#include <iostream>

#include "scenario.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: qz_sim SCENARIO.json [--root DIR] [--daemon PATH]\n";
        return 2;
    }
    SimBoard::Options options;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--root") == 0) options.root = argv[i + 1];
        if (std::strcmp(argv[i], "--daemon") == 0) options.daemonPath = argv[i + 1];
    }
    return run_scenario(argv[1], options, std::cout);
}
