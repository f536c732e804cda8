#include "stand_ins.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace {

std::string resolve(const std::string& name) {
    std::string command = "command -v " + name;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return {};
    char line[512] = {};
    if (std::fgets(line, sizeof line, pipe) == nullptr) line[0] = '\0';
    pclose(pipe);
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace

StandIns::StandIns(const TestRoot& root, const std::vector<std::string>& names) : root_(root) {
    const char* path = std::getenv("PATH");
    oldPath_ = path ? path : "";
    setenv("PATH", (root.path("/bin") + ":" + oldPath_).c_str(), 1);
    for (const auto& name : names) {
        script("/bin/" + name, "echo \"" + name + " $*\" >> " + root.path("/calls.log") + "\n");
        EXPECT_EQ(resolve(name), root.path("/bin/" + name)) << name << " would reach the host";
    }
}

StandIns::~StandIns() { setenv("PATH", oldPath_.c_str(), 1); }

void StandIns::script(const std::string& devicePath, const std::string& body) const {
    root_.write(devicePath, "#!/bin/sh\n" + body);
    chmod(root_.path(devicePath).c_str(), 0755);
}

std::vector<std::string> StandIns::calls() const {
    std::vector<std::string> lines;
    std::istringstream in(root_.read("/calls.log"));
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}
