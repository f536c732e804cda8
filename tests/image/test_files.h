#pragma once
#include <libexif/exif-data.h>

#include <memory>
#include <string>

#include "image/jpeg_codec.h"
#include "image/jpeg_sections.h"
#include "sim/sim_files.h"

// Small helpers the picture tests share.

// A dated camera picture (2024:05:01 10:30:00) of the given size; true when written.
bool write_camera_picture(const std::string& path, int width, int height, int quality = 92);

// The decoded picture; width 0 when the file does not decode.
Picture decode_file(const std::string& path);
// Its pixels alone; empty when the file does not decode.
std::string pixels_of(const std::string& path);

// How many bytes lie between the first and the last that differ; SIZE_MAX
// when the lengths differ.
size_t changed_span(const std::string& before, const std::string& after);

// The file's EXIF block as libexif's own loader reads it (null when none).
ExifHandle load_exif(const std::string& path);
// The text of an ASCII entry, or "(none)".
std::string exif_text(ExifData* exif, ExifIfd ifd, ExifTag tag);
