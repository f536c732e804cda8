#pragma once
#include <ctime>
#include <string>

// Camera-like test pictures: a landscape with fine texture and sensor grain,
// so that the JPEG is about as large and as hard to compress as a camera's,
// with the EXIF block a camera writes (make, model, dates, a thumbnail).
struct SimPicture {
    int width = 4000;
    int height = 3000;
    int quality = 92;
    // DateTimeOriginal as the camera writes it ("2024:05:01 10:30:00"), taken
    // as it is; empty: the EXIF block has no such entry.
    std::string dateTimeOriginal;
    // false: no EXIF block at all.
    bool exif = true;
    // EXIF byte order: false Intel (little-endian), true Motorola.
    bool bigEndian = false;
    // Different seeds give different pictures of the same kind.
    unsigned seed = 1;
};

// Writes the picture as a JPEG file (replacing `path`); 0 on success, -1 on failure.
int sim_write_picture(const char* path, const SimPicture& picture);

// The pixels alone (RGB, row after row): what the JPEG was encoded from.
std::string sim_picture_pixels(const SimPicture& picture);

// A local time as the camera writes DateTimeOriginal: "2024:05:01 10:30:00".
std::string sim_exif_date(time_t when);
