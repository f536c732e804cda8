#include "jpeg_codec.h"

#include <cstring>

#include "atomic_file.h"

// The one translation unit that holds stb's decoder and JPEG writer.
// stb's decoder takes its NEON paths only when STBI_NEON is defined; the armhf
// toolchain passes it, and any build for a NEON target gets it here as well,
// so the module never decodes with the plain C loops.
#if (defined(__ARM_NEON) || defined(__ARM_NEON__)) && !defined(STBI_NEON)
#define STBI_NEON
#endif
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

// stb's JPEG writer hands over its entropy-coded data one byte at a call;
// collecting it here spares a locked stdio call per byte.
struct StreamSink {
    FILE* file = nullptr;
    bool ok = true;
    size_t used = 0;
    unsigned char buffer[4096];

    void flush() {
        if (ok && used != 0 && std::fwrite(buffer, 1, used, file) != used) ok = false;
        used = 0;
    }
};

void write_to_stream(void* context, void* bytes, int length) {
    auto* sink = static_cast<StreamSink*>(context);
    if (!sink->ok || length <= 0) return;
    size_t want = static_cast<size_t>(length);
    if (sink->used + want > sizeof sink->buffer) sink->flush();
    if (want > sizeof sink->buffer) {
        if (sink->ok && std::fwrite(bytes, 1, want, sink->file) != want) sink->ok = false;
        return;
    }
    std::memcpy(sink->buffer + sink->used, bytes, want);
    sink->used += want;
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
    StreamSink sink;
    sink.file = file;
    int written =
        stbi_write_jpg_to_func(write_to_stream, &sink, width, height, channels, pixels, quality);
    sink.flush();
    return written != 0 && sink.ok;
}

int picture_write_jpeg(const char* path, const uint8_t* pixels, int width, int height,
                       int channels, int quality) {
    return atomic_file_write(path, [&](FILE* file) {
        return picture_encode_jpeg(file, pixels, width, height, channels, quality);
    });
}
