#pragma once
#include <cstddef>
#include <cstdint>

// Full-HD copies of kept pictures for the cloud: a picture in original/ that
// matches the requested name and EXIF date to the second is copied at up to
// 2,073,600 pixels, keeps its date, is compressed to about 150 kB and put in
// transmit/ as "HD" followed by its name.

// 0 ready (hd_path_out holds the copy's real path), 1 not available (no such
// picture, another date, a name that is not a plain file name or too long,
// or no copy could be made; hd_path_out empty), 2 no SD card (hd_path_out
// untouched). `size` is the size of hd_path_out.
int32_t hd_lookup(const char* name, const char* date_text, char* hd_path_out, size_t size);

// 1 when the HD copy of the source was made, else 0 (nothing left at hd_path).
int hd_prepare(const char* source_path, const char* hd_path);
