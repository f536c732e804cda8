#pragma once
#include <string>

#include "core/json_util.h"

// Reads a scenario file and checks every member the board would read: a
// misspelt or misplaced member is an error, never a silent default. Null when
// the file cannot be read, is no JSON or holds a member the board does not
// know; `error` then says why and where ("steps[2]: unknown member \"sned\"",
// "file.json:12:5: ..." for a JSON syntax error).
JsonPtr scenario_read(const std::string& file, std::string& error);
