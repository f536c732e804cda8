#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "image_memory.h"

// The pipeline's only JPEG decoder (libjpeg) and encoder (stb's writer), used
// by resizing, the test-picture generator and the tests.

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
// a copy of `targetWidth` x `targetHeight`: the smallest whose decoded size is
// at least twice the target on both axes. A reduced-scale decode drops the
// upper frequencies of each 8 x 8 block on its own, and its errors lie in the
// upper half of what it keeps; with half the shrinking left to it, the Lanczos
// filter removes them. Decoding just to the target's size left copies of grainy
// pictures 38 to 44 dB from a full-scale resize; twice it, 47 dB or more.
int picture_decode_eighths(int width, int height, int targetWidth, int targetHeight);

// Decodes the file at the scale its copy within `budget` pixels needs (the
// size rule of resample_target_size). A scan cut short yields what could be
// recovered of it. 0 on success; -1 with `reason` set to the decoder's message
// ("can't fopen" when the file cannot be opened); -2 when memory ran out.
int picture_decode_file(const char* path, Picture& picture, std::string& reason,
                        int32_t budget = kDecodeFullScale);

// Encodes the pixels as a JPEG of the given quality (1 to 100) into the stream.
// False when the arguments are unusable or the stream refused a byte.
bool picture_encode_jpeg(FILE* file, const uint8_t* pixels, int width, int height, int channels,
                         int quality);

// Writes a JPEG file, replacing `path` atomically. 0 on success, -1 on failure.
int picture_write_jpeg(const char* path, const uint8_t* pixels, int width, int height,
                       int channels, int quality);
