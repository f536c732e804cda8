#pragma once
#include <cstdio>
#include <functional>

// Replaces `path` (a real path, already mapped to the device root) so that a
// power cut leaves either the old file or the new one, never a mix: the
// writer fills a temporary file in the same folder, which is flushed to the
// card, renamed over the old file, and the folder is flushed. When the writer
// returns false or any step fails, the old file stays as it was and -1 is
// returned with errno telling why (the writer's failure leaves its own errno);
// 0 on success. A symbolic link is kept: its target is replaced.
int atomic_file_write(const char* path, const std::function<bool(FILE*)>& writer);

// Whether a file name is one of the temporary names above. No listing, run or
// upload takes such a file: a power cut can leave one behind, half written.
bool atomic_file_is_temporary(const char* name);

// Removes the temporary files that cut-short saves left in the folder of
// `path` (a path ending in "/" names the folder itself; a link, its target's
// folder). Start-up calls it.
void atomic_file_remove_stale(const char* path);

// rename() of real paths in one folder, then the folder flushed, so the new
// name survives a power cut. 0, or -1 with errno set.
int atomic_file_rename(const char* from, const char* to);

// unlink() of a real path, then its folder flushed. 0 when it was removed.
int atomic_file_remove(const char* path);
