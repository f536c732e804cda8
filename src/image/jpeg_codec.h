#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "image/image_memory.h"

// The pipeline's only JPEG decoder and encoder (libjpeg), used by resizing,
// the test-picture generator and the tests.

// 8 bits per channel, interleaved, 1 to 4 channels.
struct Picture {
    ImageBytes pixels;
    int width = 0;
    int height = 0;
    int channels = 0;
    // The file's own size; larger than width x height when decoded at a reduced scale.
    int fullWidth = 0;
    int fullHeight = 0;
};

// Decodes in full, whatever the size.
constexpr int32_t kDecodeFullScale = INT32_MAX;

// The scale M/8 (M from 1 to 8) a `width` x `height` picture is decoded at for
// a copy of `targetWidth` x `targetHeight`: the smallest whose decoded size
// covers the target on both axes, as the peer tools do. The copies are
// squeezed to 20 and 150 kB, which costs them far more than the upper
// frequencies a larger decode would keep: the finished copies come out as
// close to a full-scale resize as those made from a decode at twice the size.
int picture_decode_eighths(int width, int height, int targetWidth, int targetHeight);

// Decodes the file at the scale its copy within `budget` pixels needs (the
// size rule of resample_target_size). A scan cut short yields what could be
// recovered of it. 0 on success; -1 with `reason` set to the decoder's message
// ("can't fopen" when the file cannot be opened); -2 when memory ran out.
int picture_decode_file(const char* path, Picture& picture, std::string& reason,
                        int32_t budget = kDecodeFullScale);

// An encoded JPEG file in memory.
struct JpegFile {
    struct Free {
        void operator()(uint8_t* bytes) const noexcept { std::free(bytes); }
    };
    std::unique_ptr<uint8_t, Free> bytes;
    size_t size = 0;
    int quality = 0;
};

// Encodes 1 (grey) or 3 (RGB) channels at the quality (1 to 100), the colour
// at half resolution both ways as cameras keep it, with Huffman tables made
// for the picture. A non-empty `exif` (an EXIF payload from its "Exif" header)
// becomes the file's EXIF section, in place of the JFIF header. False when the
// arguments are unusable or memory ran out.
bool picture_encode_jpeg(const uint8_t* pixels, int width, int height, int channels, int quality,
                         const std::vector<uint8_t>& exif, JpegFile& out);

// The same at the highest quality whose file takes at most `maxBytes` (the
// lowest quality when none does): the copy is written once, at its size.
bool picture_encode_jpeg_within(const uint8_t* pixels, int width, int height, int channels,
                                size_t maxBytes, const std::vector<uint8_t>& exif, JpegFile& out);

// Encodes the pixels as a JPEG of the given quality into the stream, without
// EXIF. False when the arguments are unusable or the stream refused a byte.
bool picture_encode_jpeg(FILE* file, const uint8_t* pixels, int width, int height, int channels,
                         int quality);

// Writes a JPEG file, replacing `path` atomically. 0 on success, -1 on failure.
int picture_write_jpeg(const char* path, const uint8_t* pixels, int width, int height,
                       int channels, int quality);
