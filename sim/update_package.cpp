#include "update_package.h"

#include <cstdlib>
#include <filesystem>

#include "sim_files.h"

bool update_package_lay(const std::string& root, const UpdatePackage& package) {
    const std::string staging = root + "/sim/package";
    std::filesystem::remove_all(staging);
    sim_write_file(staging + "/manifest.json", package.manifest + "\n");
    sim_write_file(staging + "/post_update_script.sh",
                   "#!/bin/sh\n" + sim_record_line(root, "post_update_script.sh"), 0755);
    sim_write_file(staging + "/release.txt", "installed by the update package\n");
    std::string members = "manifest.json post_update_script.sh release.txt";
    if (!package.firmware.empty()) {
        sim_write_file(staging + "/torvex-c1.a87", package.firmware);
        members += " torvex-c1.a87";
    }
    std::string command = "tar -czf '" + root + "/media/sdcard/update.tar.gz' -C '" + staging + "' " + members;
    return std::system(command.c_str()) == 0;
}
