#include "image/resample.h"

#include <cmath>
#include <mutex>

#include "image/image_memory.h"

// The one translation unit that holds stb's resampler. Its work memory comes
// from the pipeline's heap, so running out is seen as a failed resample.
#define STBIR_MALLOC(bytes, context) ((void)(context), image_malloc(bytes))
#define STBIR_FREE(block, context) ((void)(context), image_free(block))
#define STB_IMAGE_RESIZE_STATIC
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>

namespace {

float sinc(float t) {
    if (t == 0.0f) return 1.0f;
    // pi * t in double, kept in single precision for the sine and the division.
    float angle = static_cast<float>(M_PI * static_cast<double>(t));
    return static_cast<float>(std::sin(static_cast<double>(angle)) / angle);
}

float lanczos3_kernel(float x, float /*scale*/) { return lanczos3(x); }

// Taps from 3 on weigh 0; the radius of 4 keeps the last real lobe whole.
float lanczos3_support(float /*scale*/) { return 4.0f; }

// The resampler picks kernels from its filter table by number. Mitchell is
// never asked for here, so its row carries the Lanczos-3 kernel instead.
constexpr stbir_filter kFilterLanczos3 = STBIR_FILTER_MITCHELL;
constexpr stbir_filter kFilterEnlarge = STBIR_FILTER_CATMULLROM;

void install_lanczos3() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        stbir__filter_info_table[kFilterLanczos3] = {lanczos3_kernel, lanczos3_support};
    });
}

stbir_filter filter_for(int oldSize, int newSize) {
    float scale = static_cast<float>(newSize) / static_cast<float>(oldSize);
    return scale > 1.0f ? kFilterEnlarge : kFilterLanczos3;
}

int round_half_away(double value) { return static_cast<int>(std::lround(value)); }

}  // namespace

float lanczos3(float x) {
    if (std::fabs(x) >= 3.0f) return 0.0f;
    float near = sinc(x);
    float far = sinc(x / 3.0f);
    return near * far;
}

void resample_target_size(int width, int height, int32_t budget, int& newWidth, int& newHeight) {
    if (static_cast<int64_t>(width) * height <= budget) {
        newWidth = width;
        newHeight = height;
        return;
    }
    if (budget <= 0 || width <= 0 || height <= 0) {
        newWidth = newHeight = 0;
        return;
    }
    float aspect = static_cast<float>(width) / static_cast<float>(height);
    float area = static_cast<float>(budget) * aspect;
    newWidth = round_half_away(std::sqrt(static_cast<double>(area)));
    newHeight = newWidth == 0
                    ? 0
                    : round_half_away(static_cast<float>(budget) / static_cast<float>(newWidth));
}

bool resample_pixels(const uint8_t* input, int width, int height, int channels, uint8_t* output,
                     int newWidth, int newHeight) {
    if (input == nullptr || output == nullptr || width <= 0 || height <= 0 || newWidth <= 0 ||
        newHeight <= 0 || channels < 1 || channels > 4)
        return false;
    install_lanczos3();
    return stbir_resize(input, width, height, 0, output, newWidth, newHeight, 0, STBIR_TYPE_UINT8,
                        channels, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP,
                        filter_for(width, newWidth), filter_for(height, newHeight),
                        STBIR_COLORSPACE_LINEAR, nullptr) != 0;
}
