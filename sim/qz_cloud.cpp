// qz_cloud: the simulated board's cloud service on its own, for trying a
// client by hand. Prints its host and writes its CA, then serves until stopped.
#include <signal.h>

#include <cstring>
#include <iostream>

#include "sim/cloud_emulator.h"
#include "sim/sim_files.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: qz_cloud CA_PATH [SCENARIO_CLOUD.json]\n";
        return 2;
    }
    CloudScenario scenario;
    if (argc > 2 && !cloud_scenario_parse(sim_read_file(argv[2]), scenario)) {
        std::cerr << "cannot read " << argv[2] << "\n";
        return 2;
    }
    // Waited for below; a shell's background job starts with SIGINT ignored.
    sigset_t stop;
    sigemptyset(&stop);
    for (int stopSignal : {SIGINT, SIGTERM}) {
        signal(stopSignal, SIG_DFL);
        sigaddset(&stop, stopSignal);
    }
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);  // before the server's threads exist

    CloudEmulator cloud(scenario);
    if (!cloud.start() || !cloud.write_ca(argv[1])) {
        std::cerr << "cannot start the cloud emulator\n";
        return 1;
    }
    std::cout << cloud.host() << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    cloud.stop();
    std::cout << cloud_emulator_report(cloud);
    return 0;
}
