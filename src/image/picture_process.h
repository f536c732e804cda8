#pragma once
#include <cstdint>
#include <vector>

// The camera's pictures on their way from the SD cable to the transmit queue:
// process/ holds what the transfer script copied, original/ the camera's files
// under numbered names, transmit/ the small copies the cloud upload sends.

struct FileEntry {
    char name[256];
    int32_t mtime;  // 0 when the file's status could not be read
};

// Three-way orders for list_files.
int compare_oldest_first(const FileEntry& a, const FileEntry& b);
int compare_newest_first(const FileEntry& a, const FileEntry& b);
using FileOrder = int (*)(const FileEntry&, const FileEntry&);

// Lists the regular files of `dir` (a real path ending in "/"), sorted, cut to
// `max` entries unless max is 0; temporary files of a save are left out. 0 on success, -1 when the folder cannot be
// opened; with no regular file `entries` is left as it was.
int list_files(const char* dir, std::vector<FileEntry>& entries, int max, FileOrder order);

// The text after the last "." (empty when there is none).
const char* file_extension(const char* name);

// Runs the transfer script that copies the camera's new files into process/;
// returns its shell status, 0 for success.
int sdcable_transfer();

// Files every picture of process/ in original/ and makes its transmit copy. A
// card that cannot take a copy stops the run: that picture and the later ones
// wait untouched in process/ for the next.
void process_pictures();

// Start-up: removes what saves cut short by a power cut left in the picture
// folders, and a swap file left on the card.
void remove_stale_picture_temporaries();
