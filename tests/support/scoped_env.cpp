#include "tests/support/scoped_env.h"

#include <cstdlib>

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        setenv(name_.c_str(), old_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

std::string path_with_first(const std::string& folder) {
    const char* path = std::getenv("PATH");
    return path != nullptr && *path != '\0' ? folder + ":" + path : folder;
}
