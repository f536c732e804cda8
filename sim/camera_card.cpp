#include "sim/camera_card.h"

#include <sys/stat.h>
#include <utime.h>

#include <ctime>
#include <filesystem>
#include <fstream>

#include "sim/pictures.h"
#include "sim/sim_files.h"

namespace fs = std::filesystem;

namespace {

void set_mtime(const std::string& path, time_t when) {
    utimbuf times{when, when};
    utime(path.c_str(), &times);
}

void write_script(const std::string& path, const std::string& body) {
    sim_write_file(path, "#!/bin/sh\n" + body, 0755);
}

}  // namespace

void camera_card_fill(const std::string& root, const CameraCard& card) {
    const std::string dcim = root + "/sim/camera/DCIM/";
    fs::create_directories(dcim);
    const time_t now = time(nullptr);
    int number = 0;
    auto next_name = [&](const char* extension) {
        char name[32];
        std::snprintf(name, sizeof name, "IMAG%04d.%s", ++number, extension);
        return dcim + name;
    };
    auto picture = [&](time_t taken, bool exif) {
        SimPicture p;
        p.width = card.width;
        p.height = card.height;
        p.exif = exif;
        p.dateTimeOriginal = sim_exif_date(taken);
        p.seed = static_cast<unsigned>(number + 1);
        std::string path = next_name("JPG");
        sim_write_picture(path.c_str(), p);
        set_mtime(path, taken);
    };
    time_t taken = now - 2 * 86400 - 600;
    for (int i = 0; i < card.oldPictures; ++i) picture(taken += 60, true);
    taken = now - 600;
    for (int i = 0; i < card.pictures; ++i) picture(taken += 60, true);
    if (card.withoutExif) picture(taken += 60, false);
    if (card.notAPicture) {
        std::string path = next_name("JPG");
        std::ofstream(path) << "this is no picture\n";
        set_mtime(path, taken += 60);
    }
    if (card.movie) {
        std::string path = next_name("AVI");
        std::ofstream(path, std::ios::binary) << std::string(64 * 1024, '\x5a');
        set_mtime(path, taken += 60);
    }
}

void camera_card_install_scripts(const std::string& root) {
    write_script(root + "/usrdata/img_transfer.sh",
                 sim_record_line(root, "/usrdata/img_transfer.sh") +
                 "sim=\"" + root + "/sim\"\n"
                 "fails=$(cat \"$sim/transfer_failures\" 2>/dev/null || echo 0)\n"
                 "if [ \"$fails\" -gt 0 ]; then\n"
                 "    echo $((fails - 1)) > \"$sim/transfer_failures\"\n"
                 "    exit 1\n"
                 "fi\n"
                 "process=\"" + root + "/media/sdcard/process\"\n"
                 "mkdir -p \"$process\" || exit 1\n"
                 "touch \"$sim/camera_copied\"\n"
                 "for f in \"$sim\"/camera/DCIM/*; do\n"
                 "    [ -f \"$f\" ] || continue\n"
                 "    name=$(basename \"$f\")\n"
                 "    grep -qxF \"$name\" \"$sim/camera_copied\" && continue\n"
                 "    cp -p \"$f\" \"$process/\" || exit 1\n"
                 "    echo \"$name\" >> \"$sim/camera_copied\"\n"
                 "done\n"
                 "exit 0\n");
    write_script(root + "/usrdata/sdcable_mount.sh", sim_record_line(root, "/usrdata/sdcable_mount.sh"));
    std::error_code ignored;
    fs::create_symlink("/usr/bin/jpegoptim", root + "/usrdata/jpegoptim", ignored);
}

void camera_card_fail_transfers(const std::string& root, int times) {
    std::ofstream(root + "/sim/transfer_failures", std::ios::trunc) << times << "\n";
}
