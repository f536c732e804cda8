#include "jpeg_codec.h"

#include "atomic_file.h"

// The one translation unit that holds stb's decoder and JPEG writer.
#define STBI_MALLOC(bytes) image_malloc(bytes)
#define STBI_REALLOC(block, bytes) image_realloc(block, bytes)
#define STBI_FREE(block) image_free(block)
#define STBI_ONLY_JPEG
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace {

struct StreamSink {
    FILE* file;
    bool ok;
};

void write_to_stream(void* context, void* bytes, int length) {
    auto* sink = static_cast<StreamSink*>(context);
    if (!sink->ok || length <= 0) return;
    size_t want = static_cast<size_t>(length);
    if (std::fwrite(bytes, 1, want, sink->file) != want) sink->ok = false;
}

}  // namespace

int picture_decode_file(const char* path, Picture& picture, const char*& reason) {
    FILE* file = path == nullptr ? nullptr : std::fopen(path, "rb");
    if (file == nullptr) {
        reason = "can't fopen";
        return -1;
    }
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_file(file, &width, &height, &channels, 0);
    std::fclose(file);
    if (pixels == nullptr) {
        reason = stbi_failure_reason();
        if (reason == nullptr) reason = "unknown";
        return -1;
    }
    picture.pixels.reset(pixels);
    picture.width = width;
    picture.height = height;
    picture.channels = channels;
    return 0;
}

bool picture_encode_jpeg(FILE* file, const uint8_t* pixels, int width, int height, int channels,
                         int quality) {
    if (file == nullptr || pixels == nullptr || width <= 0 || height <= 0 || channels < 1 ||
        channels > 4)
        return false;
    StreamSink sink{file, true};
    int written =
        stbi_write_jpg_to_func(write_to_stream, &sink, width, height, channels, pixels, quality);
    return written != 0 && sink.ok;
}

int picture_write_jpeg(const char* path, const uint8_t* pixels, int width, int height,
                       int channels, int quality) {
    return atomic_file_write(path, [&](FILE* file) {
        return picture_encode_jpeg(file, pixels, width, height, channels, quality);
    });
}
