#pragma once
#include <optional>
#include <string>

// One environment variable set for the object's lifetime, then put back as it was.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// PATH with `folder` searched first.
std::string path_with_first(const std::string& folder);
