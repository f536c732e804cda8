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
// untouched), kHdCardFault when the card could not take the copy (a full,
// read-only or failing card; hd_path_out empty, the picture kept as it was).
// `size` is the size of hd_path_out.
int32_t hd_lookup(const char* name, const char* date_text, char* hd_path_out, size_t size);
constexpr int32_t kHdCardFault = 3;

// 1 when the HD copy of the source was made, 0 when it could not be made, -1
// when the card could not take it; nothing is left at hd_path but a copy made.
int hd_prepare(const char* source_path, const char* hd_path);
