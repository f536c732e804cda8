#pragma once
#include <cstdint>
#include <cstdio>

#include "image_memory.h"

// The pipeline's only JPEG decoder and encoder (one copy of each in the whole
// program, used by resizing, the test-picture generator and the tests).

// 8 bits per channel, interleaved, 1 to 4 channels.
struct Picture {
    ImageBytes pixels;
    int width = 0;
    int height = 0;
    int channels = 0;
};

// Decodes the whole file with its own channel count. 0 on success; -1 with
// `reason` set to the decoder's failure text: "can't fopen" when the file cannot
// be opened, "outofmem" when memory ran out.
int picture_decode_file(const char* path, Picture& picture, const char*& reason);

// Encodes the pixels as a JPEG of the given quality (1 to 100) into the stream.
// False when the arguments are unusable or the stream refused a byte.
bool picture_encode_jpeg(FILE* file, const uint8_t* pixels, int width, int height, int channels,
                         int quality);

// Writes a JPEG file, replacing `path` atomically. 0 on success, -1 on failure.
int picture_write_jpeg(const char* path, const uint8_t* pixels, int width, int height,
                       int channels, int quality);
