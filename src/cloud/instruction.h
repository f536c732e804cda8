#pragma once
#include <cstdio>
#include <memory>
#include <string>

struct json_object;

// A transfer instruction from the cloud ("name", "host", "path", "verb",
// optional "headers"): nothing in it is trusted.

struct TransferTarget {
    std::string url;  // "host" followed by "path"
    const char* verb = nullptr;
    json_object* headers = nullptr;  // null when the instruction has none
};

// Reads the target of an instruction. False when it cannot be used: `fault`
// then says why (a URL, verb or header line refused), or is null when a
// member is simply missing, which callers pass over without a word.
bool transfer_target_read(json_object* instruction, TransferTarget& target, const char*& fault);

// A name from the cloud names a file only when it is a plain file name:
// not empty, not "." or "..", no "/", no control characters, at most 255 bytes.
bool plain_file_name(const char* name);

// A name as a log line may show it: cut to 255 bytes, control characters as '?'.
std::string printable_name(const char* name);

struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;
