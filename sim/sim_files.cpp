#include "sim_files.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

void sim_write_file(const std::string& path, const std::string& content, mode_t mode) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    chmod(path.c_str(), mode);
}

std::string sim_read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string sim_record_line(const std::string& root, const std::string& name) {
    return "echo \"" + name + " $*\" >> \"" + root + "/sim/commands.log\"\n";
}
