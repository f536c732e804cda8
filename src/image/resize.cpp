#include "resize.h"

#include <string>

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
    // Decoded at the smallest scale that still covers the copy: a quarter of
    // the work and a sixteenth of the memory for a transmit copy.
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

    int width = 0, height = 0;
    resample_target_size(source.fullWidth, source.fullHeight, budget, width, height);
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
