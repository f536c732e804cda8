#include "sim/pictures.h"

#include <libexif/exif-data.h>
#include <libexif/exif-entry.h>
#include <libexif/exif-mem.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "image/jpeg_codec.h"
#include "image/jpeg_sections.h"

namespace {

constexpr int kThumbWidth = 160;
constexpr int kThumbHeight = 120;
constexpr int kThumbQuality = 75;
constexpr uint16_t kJpegCompression = 6;

uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

// Smooth noise in [0, 1) with features about `cell` pixels wide.
float value_noise(int x, int y, int cell, uint32_t seed) {
    int cx = x / cell, cy = y / cell;
    float fx = static_cast<float>(x % cell) / static_cast<float>(cell);
    float fy = static_cast<float>(y % cell) / static_cast<float>(cell);
    auto corner = [&](int dx, int dy) {
        return static_cast<float>(hash(static_cast<uint32_t>(cx + dx), static_cast<uint32_t>(cy + dy),
                                       seed) & 0xFFFF) / 65536.0f;
    };
    float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    float top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * sx;
    float bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * sx;
    return top + (bottom - top) * sy;
}

// The low byte of the hash as a number in [0, 1].
float hash_unit(int x, int y, uint32_t seed) {
    return static_cast<float>(hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), seed) &
                              0xFF) /
           255.0f;
}

uint8_t clamp_byte(float value) {
    return static_cast<uint8_t>(std::clamp(value, 0.0f, 255.0f) + 0.5f);
}

// Sky with clouds above a wavy horizon; textured ground with grass and trunks;
// sensor grain everywhere.
void render(const SimPicture& p, uint8_t* rgb) {
    const uint32_t seed = p.seed;
    const float w = static_cast<float>(p.width), h = static_cast<float>(p.height);
    const int trunkWidth = std::max(2, p.width / 60);
    std::vector<float> horizons(static_cast<size_t>(p.width));
    for (int x = 0; x < p.width; ++x)
        horizons[static_cast<size_t>(x)] =
            0.42f + 0.06f * std::sin(static_cast<float>(x) / w * 7.0f + static_cast<float>(seed)) +
            0.04f * (value_noise(x, 0, std::max(8, p.width / 10), seed) - 0.5f);
    for (int y = 0; y < p.height; ++y) {
        const float fy = static_cast<float>(y) / h;
        for (int x = 0; x < p.width; ++x) {
            const float horizon = horizons[static_cast<size_t>(x)];
            float r, g, b;
            if (fy < horizon) {
                float cloud = value_noise(x, y, std::max(4, p.width / 16), seed + 1) * 0.6f +
                              value_noise(x, y, std::max(2, p.width / 64), seed + 2) * 0.4f;
                cloud = std::max(0.0f, cloud - 0.45f) * 2.2f;
                r = 90 + 80 * fy + 150 * cloud;
                g = 140 + 60 * fy + 110 * cloud;
                b = 215 + 20 * fy + 20 * cloud;
            } else {
                float depth = (fy - horizon) / (1.0f - horizon);
                float patch = value_noise(x, y, std::max(4, p.width / 40), seed + 3);
                float detail = value_noise(x, y, 3, seed + 4);
                float blade = hash_unit(x, y / 3, seed);
                r = 60 + 70 * patch + 40 * detail + 30 * blade - 20 * depth;
                g = 80 + 60 * patch + 50 * detail + 45 * blade + 20 * depth;
                b = 30 + 30 * patch + 20 * detail + 10 * blade;
                int slot = (x + static_cast<int>(seed) * 97) % (trunkWidth * 9);
                if (slot < trunkWidth && fy < horizon + 0.35f) {
                    float bark = value_noise(x, y, 2, seed + 5) * 60;
                    r = 50 + bark;
                    g = 38 + bark * 0.8f;
                    b = 28 + bark * 0.6f;
                }
            }
            float grain = hash_unit(x, y, seed + 6) * 16.0f - 8.0f;
            uint8_t* px = rgb + (static_cast<size_t>(y) * static_cast<size_t>(p.width) +
                                 static_cast<size_t>(x)) * 3;
            px[0] = clamp_byte(r + grain);
            px[1] = clamp_byte(g + grain);
            px[2] = clamp_byte(b + grain);
        }
    }
}

struct MemUnref {
    void operator()(ExifMem* mem) const noexcept { exif_mem_unref(mem); }
};
struct FileClose {
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};

// An entry of the given format holding `bytes`, replacing any entry of that tag.
bool set_entry(ExifData* exif, ExifMem* mem, ExifIfd ifd, ExifTag tag, ExifFormat format,
               unsigned long components, const void* bytes, unsigned size) {
    ExifContent* content = exif->ifd[ifd];
    if (ExifEntry* old = exif_content_get_entry(content, tag))
        exif_content_remove_entry(content, old);
    ExifEntry* entry = exif_entry_new_mem(mem);
    if (entry == nullptr) return false;
    entry->data = static_cast<unsigned char*>(exif_mem_alloc(mem, size));
    bool ok = entry->data != nullptr;
    if (ok) {
        std::memcpy(entry->data, bytes, size);
        entry->tag = tag;
        entry->format = format;
        entry->components = components;
        entry->size = size;
        exif_content_add_entry(content, entry);
    }
    exif_entry_unref(entry);
    return ok;
}

bool set_text(ExifData* exif, ExifMem* mem, ExifIfd ifd, ExifTag tag, const std::string& text) {
    auto size = static_cast<unsigned>(text.size() + 1);
    return set_entry(exif, mem, ifd, tag, EXIF_FORMAT_ASCII, size, text.c_str(), size);
}

bool set_short(ExifData* exif, ExifMem* mem, ExifIfd ifd, ExifTag tag, uint16_t value) {
    unsigned char bytes[2];
    exif_set_short(bytes, exif_data_get_byte_order(exif), value);
    return set_entry(exif, mem, ifd, tag, EXIF_FORMAT_SHORT, 1, bytes, 2);
}

bool set_long(ExifData* exif, ExifMem* mem, ExifIfd ifd, ExifTag tag, uint32_t value) {
    unsigned char bytes[4];
    exif_set_long(bytes, exif_data_get_byte_order(exif), value);
    return set_entry(exif, mem, ifd, tag, EXIF_FORMAT_LONG, 1, bytes, 4);
}

// A small JPEG of the picture, as cameras keep in IFD1.
bool attach_thumbnail(ExifData* exif, ExifMem* mem, const SimPicture& picture) {
    SimPicture small = picture;
    small.width = kThumbWidth;
    small.height = kThumbHeight;
    std::string pixels = sim_picture_pixels(small);
    char* bytes = nullptr;
    size_t length = 0;
    {
        std::unique_ptr<FILE, FileClose> stream(open_memstream(&bytes, &length));
        if (!stream) return false;
        if (!picture_encode_jpeg(stream.get(), reinterpret_cast<const uint8_t*>(pixels.data()),
                                 kThumbWidth, kThumbHeight, 3, kThumbQuality))
            return false;
    }
    std::unique_ptr<char, decltype(&std::free)> owned(bytes, &std::free);
    exif->data = static_cast<unsigned char*>(exif_mem_alloc(mem, static_cast<ExifLong>(length)));
    if (exif->data == nullptr) return false;
    std::memcpy(exif->data, bytes, length);
    exif->size = static_cast<unsigned int>(length);
    return true;
}

ExifHandle camera_block(const SimPicture& picture) {
    std::unique_ptr<ExifMem, MemUnref> mem(exif_mem_new_default());
    if (!mem) return nullptr;
    ExifHandle exif(exif_data_new_mem(mem.get()));
    if (!exif) return nullptr;
    ExifData* e = exif.get();
    ExifMem* m = mem.get();
    exif_data_set_byte_order(e, picture.bigEndian ? EXIF_BYTE_ORDER_MOTOROLA
                                                  : EXIF_BYTE_ORDER_INTEL);
    exif_data_set_data_type(e, EXIF_DATA_TYPE_COMPRESSED);
    exif_data_fix(e);
    bool ok = set_text(e, m, EXIF_IFD_0, EXIF_TAG_MAKE, "QZ Sim") &&
              set_text(e, m, EXIF_IFD_0, EXIF_TAG_MODEL, "TrailCam 12") &&
              set_long(e, m, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_X_DIMENSION,
                       static_cast<uint32_t>(picture.width)) &&
              set_long(e, m, EXIF_IFD_EXIF, EXIF_TAG_PIXEL_Y_DIMENSION,
                       static_cast<uint32_t>(picture.height)) &&
              set_short(e, m, EXIF_IFD_1, EXIF_TAG_COMPRESSION, kJpegCompression) &&
              attach_thumbnail(e, m, picture);
    if (ok && !picture.dateTimeOriginal.empty())
        ok = set_text(e, m, EXIF_IFD_0, EXIF_TAG_DATE_TIME, picture.dateTimeOriginal) &&
             set_text(e, m, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL,
                      picture.dateTimeOriginal) &&
             set_text(e, m, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_DIGITIZED,
                      picture.dateTimeOriginal);
    if (!ok) return nullptr;
    // A date the fix step may have added stays only when the camera wrote one.
    if (picture.dateTimeOriginal.empty())
        for (ExifTag tag : {EXIF_TAG_DATE_TIME_ORIGINAL, EXIF_TAG_DATE_TIME_DIGITIZED})
            if (ExifEntry* added = exif_content_get_entry(e->ifd[EXIF_IFD_EXIF], tag))
                exif_content_remove_entry(e->ifd[EXIF_IFD_EXIF], added);
    return exif;
}

}  // namespace

std::string sim_picture_pixels(const SimPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0) return {};
    std::string rgb(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height) * 3,
                    '\0');
    render(picture, reinterpret_cast<uint8_t*>(rgb.data()));
    return rgb;
}

int sim_write_picture(const char* path, const SimPicture& picture) {
    std::string rgb = sim_picture_pixels(picture);
    if (rgb.empty() || path == nullptr) return -1;
    if (picture_write_jpeg(path, reinterpret_cast<const uint8_t*>(rgb.data()), picture.width,
                           picture.height, 3, picture.quality) != 0)
        return -1;
    if (!picture.exif) return 0;
    auto exif = camera_block(picture);
    JpegSectionsHandle sections(jpeg_sections_from_file(path));
    if (!exif || !sections) return -1;
    jpeg_sections_set_exif(sections.get(), exif.get());
    return jpeg_sections_save_file(sections.get(), path) == 1 ? 0 : -1;
}

std::string sim_exif_date(time_t when) {
    tm fields{};
    localtime_r(&when, &fields);
    char text[32];
    strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &fields);
    return text;
}
