#include "tests/image/test_files.h"

#include <cstring>

#include "sim/pictures.h"

bool write_camera_picture(const std::string& path, int width, int height, int quality) {
    SimPicture p;
    p.width = width;
    p.height = height;
    p.quality = quality;
    p.dateTimeOriginal = "2024:05:01 10:30:00";
    return sim_write_picture(path.c_str(), p) == 0;
}

Picture decode_file(const std::string& path) {
    Picture picture;
    std::string reason;
    if (picture_decode_file(path.c_str(), picture, reason) != 0) picture = Picture{};
    return picture;
}

std::string pixels_of(const std::string& path) {
    Picture picture = decode_file(path);
    const size_t size = static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) *
                        static_cast<size_t>(picture.channels);
    return std::string(reinterpret_cast<const char*>(picture.pixels.get()), size);
}

size_t changed_span(const std::string& before, const std::string& after) {
    if (before.size() != after.size()) return SIZE_MAX;
    size_t first = 0, last = before.size();
    while (first < last && after[first] == before[first]) ++first;
    while (last > first && after[last - 1] == before[last - 1]) --last;
    return last - first;
}

ExifHandle load_exif(const std::string& path) {
    // Found by its header, so that whatever lies before it does not matter.
    const std::string bytes = sim_read_file(path);
    const size_t at = bytes.find(std::string("Exif\0\0", 6));
    if (at == std::string::npos) return nullptr;
    return ExifHandle(exif_data_new_from_data(reinterpret_cast<const unsigned char*>(bytes.data() + at),
                                              static_cast<unsigned int>(bytes.size() - at)));
}

std::string exif_text(ExifData* exif, ExifIfd ifd, ExifTag tag) {
    if (exif == nullptr) return "(none)";
    ExifEntry* entry = exif_content_get_entry(exif->ifd[ifd], tag);
    if (entry == nullptr || entry->data == nullptr) return "(none)";
    const char* text = reinterpret_cast<const char*>(entry->data);
    return std::string(text, strnlen(text, entry->size));
}
