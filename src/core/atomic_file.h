#pragma once
#include <cstdio>
#include <functional>

// Replaces `path` (a real path, already mapped to the device root) so that a
// power cut leaves either the old file or the new one, never a mix: the
// writer fills a temporary file in the same folder, which is flushed to the
// card, renamed over the old file, and the folder is flushed. When the writer
// returns false or any step fails, the old file stays as it was and -1 is
// returned; 0 on success.
int atomic_file_write(const char* path, const std::function<bool(FILE*)>& writer);
