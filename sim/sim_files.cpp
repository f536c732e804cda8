#include "sim/sim_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

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

std::vector<std::string> sim_recorded_calls(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int sim_run(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {
void make_raw(int fd) {
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
}
}  // namespace

int sim_open_pty(int& slave, std::string& slaveName, int slaveFlags) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return -1;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0 ||
        (slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | slaveFlags)) < 0) {
        close(master);
        return -1;
    }
    slaveName = name;
    make_raw(slave);
    make_raw(master);
    return master;
}
