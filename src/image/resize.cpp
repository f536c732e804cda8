#include "image/resize.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "core/atomic_file.h"
#include "core/event_log.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"

namespace {

constexpr const char* kTag = "process";
constexpr int kQuality = 100;

// Memory ran out (or the budget holds no pixel).
int32_t resize_failed() {
    log_event(kTag, 2, "Image resize error: write jpg failed");
    return -2;
}

// Logged with the reason, which the caller reads from errno afterwards.
int32_t cannot_write(const char* path) {
    const int error = errno;
    log_event(kTag, 2, "Image resize error: cannot write %s: %s", path, std::strerror(error));
    errno = error;
    return kResizeCannotWrite;
}

bool encode(const Picture& output, const CopyOptions& options, JpegFile& file) {
    if (options.maxBytes == 0)
        return picture_encode_jpeg(output.pixels.get(), output.width, output.height, output.channels,
                                   kQuality, options.exif, file);
    return picture_encode_jpeg_within(output.pixels.get(), output.width, output.height,
                                      output.channels, options.maxBytes, options.exif, file);
}

}  // namespace

int32_t resize_picture(const char* source_path, const char* destination_path, int32_t budget,
                       const CopyOptions& options) {
    // Decoded at the smallest scale that still covers the copy: a fraction of
    // the work and of the memory.
    Picture source;
    std::string reason;
    const int decoded = picture_decode_file(source_path, source, reason, budget);
    if (decoded == -2) return -2;
    if (decoded != 0) {
        log_event(kTag, 2, "Image resize error: %s", reason.c_str());
        return -1;
    }
    if (source.width == 0 || source.height == 0 || source.channels == 0) {
        log_event(kTag, 2, "Invalid image size.");
        return -1;
    }

    Picture output;
    output.channels = source.channels;
    resample_target_size(source.fullWidth, source.fullHeight, budget, output.width, output.height);
    if (output.width <= 0 || output.height <= 0 || destination_path == nullptr) return resize_failed();
    output.pixels = image_bytes(static_cast<size_t>(output.width) * static_cast<size_t>(output.height) *
                                static_cast<size_t>(output.channels));
    if (!output.pixels || !resample_pixels(source.pixels.get(), source.width, source.height,
                                           source.channels, output.pixels.get(), output.width,
                                           output.height))
        return resize_failed();
    source.pixels.reset();  // let go before encoding: less held at once on the module

    JpegFile file;
    if (!encode(output, options, file)) return resize_failed();
    output.pixels.reset();
    if (atomic_file_write(destination_path, [&file](FILE* stream) {
            return std::fwrite(file.bytes.get(), 1, file.size, stream) == file.size;
        }) != 0)
        return cannot_write(destination_path);
    return 0;
}
