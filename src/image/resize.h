#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// What a copy carries besides its pixels.
struct CopyOptions {
    // The file's most bytes: the highest quality that fits; 0 for quality 100.
    size_t maxBytes = 0;
    // The copy's EXIF block (the payload from its "Exif" header); empty for none.
    std::vector<uint8_t> exif;
};

// Turns a camera JPEG into a JPEG of at most `budget` pixels with the same
// aspect ratio, written once, atomically. Paths are real paths.
//   0  the destination was written (an existing file of that name is replaced)
//  -1  the source cannot be opened or decoded, or has a zero size
//  -2  memory ran out
//  -3  the destination could not be written (a full, read-only or failing
//      card): errno tells why, and nothing of it is left
// Failures are logged with tag "process", code 2, except running out of
// memory while decoding.
int32_t resize_picture(const char* source_path, const char* destination_path, int32_t budget,
                       const CopyOptions& options = {});
constexpr int32_t kResizeCannotWrite = -3;
