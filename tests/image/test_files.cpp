#include "test_files.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "pictures.h"

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

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
    const char* reason = nullptr;
    if (picture_decode_file(path.c_str(), picture, reason) != 0) picture = Picture{};
    return picture;
}

ExifHandle load_exif(const std::string& path) {
    return ExifHandle(exif_data_new_from_file(path.c_str()));
}

std::string exif_text(ExifData* exif, ExifIfd ifd, ExifTag tag) {
    if (exif == nullptr) return "(none)";
    ExifEntry* entry = exif_content_get_entry(exif->ifd[ifd], tag);
    if (entry == nullptr || entry->data == nullptr) return "(none)";
    const char* text = reinterpret_cast<const char*>(entry->data);
    return std::string(text, strnlen(text, entry->size));
}

std::vector<ExifTag> exif_tags(ExifData* exif, ExifIfd ifd) {
    std::vector<ExifTag> tags;
    ExifContent* content = exif->ifd[ifd];
    for (unsigned i = 0; i < content->count; ++i) tags.push_back(content->entries[i]->tag);
    return tags;
}

std::string jpeg_bytes(const std::vector<Segment>& segments, const std::string& scan,
                       bool withEoi) {
    std::string bytes;
    for (const Segment& segment : segments) {
        bytes += '\xFF';
        bytes += static_cast<char>(segment.marker);
        if (segment.marker == 0xD8 || segment.marker == 0xD9) continue;
        size_t length = segment.payload.size() + 2;
        bytes += static_cast<char>(length >> 8);
        bytes += static_cast<char>(length & 0xFF);
        bytes += segment.payload;
        if (segment.marker == 0xDA) bytes += scan;
    }
    if (withEoi) bytes += "\xFF\xD9";
    return bytes;
}
