#include "jpeg_codec.h"

#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstring>
#include <memory>

#include "atomic_file.h"
#include "resample.h"

// libjpeg decodes; the one translation unit that holds stb's JPEG writer.
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

// The side libjpeg decodes at scale M/8: rounded up.
int64_t scaled(int side, int eighths) { return (int64_t{side} * eighths + 7) / 8; }

struct FileClose {
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};

struct DecodeErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// libjpeg's errors end the decode: back to decode()'s setjmp with the message.
[[noreturn]] void stop_decoding(j_common_ptr info) {
    auto* errors = reinterpret_cast<DecodeErrors*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (a scan cut short, damaged data stepped over) are not printed: the
// picture is used as far as it could be recovered.
void keep_quiet(j_common_ptr /*info*/) {}

// libjpeg's state, released on every path; kept outside decode() so that
// nothing a jump could leave half-changed lives in its frame.
struct Decompression {
    jpeg_decompress_struct info{};
    DecodeErrors errors{};
    Decompression() {
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = stop_decoding;
        errors.manager.output_message = keep_quiet;
    }
    ~Decompression() { jpeg_destroy_decompress(&info); }
    Decompression(const Decompression&) = delete;
    Decompression& operator=(const Decompression&) = delete;
};

// Adobe's CMYK (stored inverted) as RGB, in place: cameras write none, but a
// picture from elsewhere should not come out in false colours.
void cmyk_to_rgb(uint8_t* pixels, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const unsigned k = pixels[4 * i + 3];
        for (size_t c = 0; c < 3; ++c)
            pixels[3 * i + c] = static_cast<uint8_t>((pixels[4 * i + c] * k + 127) / 255);
    }
}

// Only trivially destructible locals here: libjpeg's errors jump back into
// this frame. 0, -1 (the message is in `d.errors`) or -2 (memory ran out).
int decode(Decompression& d, FILE* file, int32_t budget, Picture& picture) {
    if (setjmp(d.errors.jump) != 0) return d.errors.manager.msg_code == JERR_OUT_OF_MEMORY ? -2 : -1;
    jpeg_create_decompress(&d.info);
    jpeg_stdio_src(&d.info, file);
    jpeg_read_header(&d.info, TRUE);
    const bool cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
    if (cmyk) d.info.out_color_space = JCS_CMYK;
    int width = 0, height = 0;
    const int fullWidth = static_cast<int>(d.info.image_width);
    const int fullHeight = static_cast<int>(d.info.image_height);
    resample_target_size(fullWidth, fullHeight, budget, width, height);
    d.info.scale_num = static_cast<unsigned>(picture_decode_eighths(fullWidth, fullHeight, width, height));
    d.info.scale_denom = 8;
    jpeg_start_decompress(&d.info);

    const size_t stride = size_t{d.info.output_width} * static_cast<size_t>(d.info.output_components);
    const uint64_t bytes = uint64_t{stride} * d.info.output_height;
    if (bytes > SIZE_MAX) return -2;  // more than a 32-bit module can address
    picture.pixels = image_bytes(static_cast<size_t>(bytes));
    if (!picture.pixels) return -2;
    while (d.info.output_scanline < d.info.output_height) {
        JSAMPROW row = picture.pixels.get() + stride * d.info.output_scanline;
        jpeg_read_scanlines(&d.info, &row, 1);
    }
    picture.width = static_cast<int>(d.info.output_width);
    picture.height = static_cast<int>(d.info.output_height);
    picture.channels = d.info.output_components;
    picture.fullWidth = fullWidth;
    picture.fullHeight = fullHeight;
    if (cmyk) {
        cmyk_to_rgb(picture.pixels.get(), size_t{d.info.output_width} * d.info.output_height);
        picture.channels = 3;
    }
    return 0;
}

}  // namespace

int picture_decode_eighths(int width, int height, int targetWidth, int targetHeight) {
    for (int eighths = 1; eighths < 8; ++eighths)
        if (scaled(width, eighths) >= 2 * int64_t{targetWidth} &&
            scaled(height, eighths) >= 2 * int64_t{targetHeight})
            return eighths;
    return 8;
}

int picture_decode_file(const char* path, Picture& picture, std::string& reason, int32_t budget) {
    std::unique_ptr<FILE, FileClose> file(path == nullptr ? nullptr : std::fopen(path, "rbe"));
    if (!file) {
        reason = "can't fopen";
        return -1;
    }
    Decompression decompression;
    picture = Picture{};
    const int rc = decode(decompression, file.get(), budget, picture);
    if (rc != 0) picture = Picture{};
    if (rc == -1) reason = decompression.errors.message;
    return rc;
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
