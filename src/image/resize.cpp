#include "resize.h"

#include <cstring>

#include "event_log.h"
#include "jpeg_codec.h"
#include "resample.h"

namespace {

constexpr const char* kTag = "process";
constexpr int kQuality = 100;

int32_t write_failed() {
    log_event(kTag, 2, "Image resize error: write jpg failed");
    return -2;
}

}  // namespace

int32_t resize_picture(const char* source_path, const char* destination_path, int32_t budget) {
    Picture source;
    const char* reason = nullptr;
    if (picture_decode_file(source_path, source, reason) != 0) {
        if (std::strcmp(reason, "outofmem") == 0) return -2;
        log_event(kTag, 2, "Image resize error: %s", reason);
        return -1;
    }
    if (source.width == 0 || source.height == 0 || source.channels == 0) {
        log_event(kTag, 2, "Invalid image size.");
        return -1;
    }

    int width = 0, height = 0;
    resample_target_size(source.width, source.height, budget, width, height);
    if (width <= 0 || height <= 0 || destination_path == nullptr) return write_failed();
    size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) *
                   static_cast<size_t>(source.channels);
    ImageBytes output = image_bytes(bytes);
    if (!output || !resample_pixels(source.pixels.get(), source.width, source.height,
                                    source.channels, output.get(), width, height))
        return write_failed();
    source.pixels.reset();  // let go before encoding: less held at once on the module

    if (picture_write_jpeg(destination_path, output.get(), width, height, source.channels,
                           kQuality) != 0)
        return write_failed();
    return 0;
}
