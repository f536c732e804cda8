#pragma once
#include <cstdint>
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

// Reads the target of an instruction for `what` (a picture or file name).
// False when it cannot be used: a refused URL, verb or header line is logged
// with `tag` as "Refused instruction for <what>: <why>", a refused header name
// as "Refused header <name> for <what>"; a member simply missing is passed
// over without a word. A verb is 1 to 16 upper-case letters, so it cannot
// rewrite the request line.
bool transfer_target_read(json_object* instruction, const char* tag, const char* what, TransferTarget& target);

// A name from the cloud names a file only when it is a plain file name:
// not empty, not "." or "..", no "/", no control characters, at most 255 bytes.
bool plain_file_name(const char* name);

// Any byte below 0x20, or 0x7F: such a text must not reach a request.
bool has_control_character(const char* text);

// A name as a log line may show it: cut to 255 bytes, control characters as '?'.
std::string printable_name(const char* name);

struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;

// The length of an open file, -1 when it cannot be read.
int64_t file_length(FILE* file);

// Why a transfer (its HttpResult) does not count, as the log lines say it.
const char* transfer_failure_text(int result);

// Logs why a transfer (its HttpResult) does not count, naming what it was for
// and what becomes of it: "File transfer failed for <what>: <why>; <fate>".
void log_transfer_failure(const char* tag, int result, const char* what, const char* fate);
