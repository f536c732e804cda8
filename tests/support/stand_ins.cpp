#include "tests/support/stand_ins.h"

#include <gtest/gtest.h>

#include "sim/sim_files.h"

StandIns::StandIns(const TestRoot& root, const std::vector<std::string>& names)
    : root_(root), path_("PATH", path_with_first(root.path("/bin"))) {
    for (const auto& name : names) {
        // An argument holding a blank is recorded in quotes, so a path the shell split shows.
        script("/bin/" + name, "{ printf %s " + name +
                                   "; for a in \"$@\"; do case \"$a\" in *' '*) printf ' \"%s\"' \"$a\";;"
                                   " *) printf ' %s' \"$a\";; esac; done; echo; } >> " +
                                   root.path("/calls.log") + "\n");
        std::string found;
        sim_run("command -v " + name, found);
        EXPECT_EQ(found, root.path("/bin/" + name) + "\n") << name << " would reach the host";
    }
}

void StandIns::script(const std::string& devicePath, const std::string& body) const {
    sim_write_file(root_.path(devicePath), "#!/bin/sh\n" + body, 0755);
}

std::vector<std::string> StandIns::calls() const { return sim_recorded_calls(root_.read("/calls.log")); }
