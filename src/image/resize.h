#pragma once
#include <cstdint>

// Turns a camera JPEG into a JPEG of at most `budget` pixels with the same
// aspect ratio (quality 100, no EXIF data). Paths are real paths.
//   0  the destination was written (an existing file of that name is replaced)
//  -1  the source cannot be opened or decoded, or has a zero size
//  -2  memory ran out, or the destination could not be written
// Failures are logged with tag "process", code 2, except running out of
// memory while decoding.
int32_t resize_picture(const char* source_path, const char* destination_path, int32_t budget);
