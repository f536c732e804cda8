#include "stand_ins.h"

#include <gtest/gtest.h>
#include <cstdio>

#include "sim_files.h"

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

StandIns::StandIns(const TestRoot& root, const std::vector<std::string>& names)
    : root_(root), path_("PATH", path_with_first(root.path("/bin"))) {
    for (const auto& name : names) {
        script("/bin/" + name, "echo \"" + name + " $*\" >> " + root.path("/calls.log") + "\n");
        EXPECT_EQ(resolve(name), root.path("/bin/" + name)) << name << " would reach the host";
    }
}

void StandIns::script(const std::string& devicePath, const std::string& body) const {
    sim_write_file(root_.path(devicePath), "#!/bin/sh\n" + body, 0755);
}

std::vector<std::string> StandIns::calls() const { return sim_recorded_calls(root_.read("/calls.log")); }
