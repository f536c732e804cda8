#include "sim/update_package.h"

#include <cstdlib>
#include <filesystem>

#include "sim/sim_files.h"

bool update_package_lay(const std::string& root, const UpdatePackage& package) {
    const std::string staging = root + "/sim/package";
    std::filesystem::remove_all(staging);
    sim_write_file(staging + "/manifest.json", package.manifest + "\n");
    const std::string script = "#!/bin/sh\n" + sim_record_line(root, "post_update_script.sh");
    sim_write_file(staging + "/post_update_script.sh", script + sim_read_file(QZ_POST_UPDATE_SCRIPT), 0755);
    sim_write_file(staging + "/release.txt", "installed by the update package\n");
    std::string members = "manifest.json post_update_script.sh release.txt";
    if (!package.firmware.empty()) {
        sim_write_file(staging + "/torvex-c1.a87", package.firmware);
        members += " torvex-c1.a87";
    }
    if (!package.daemon.empty()) {
        sim_write_file(staging + "/qz_daemon.new", package.daemon, 0755);
        members += " qz_daemon.new";
    }
    std::string command = "tar -czf '" + root + "/media/sdcard/update.tar.gz' -C '" + staging + "' " + members;
    return std::system(command.c_str()) == 0;
}
