#pragma once
#include <cstdint>

// The resampler behind resize_picture: how big the output is and how its
// pixels are filtered. Shrinking (and scale 1) uses a Lanczos-3 kernel of our
// own, enlarging Catmull-Rom, chosen per axis.

// The output size for a `width` x `height` picture and a pixel budget: the
// source size when it fits, else the aspect-keeping size near the budget.
// A budget too small for one row or column gives a 0 side.
void resample_target_size(int width, int height, int32_t budget, int& newWidth, int& newHeight);

// L(x) = sinc(x) * sinc(x / 3) for |x| < 3, else 0.
float lanczos3(float x);

// Resamples packed 8-bit pixels (every channel filtered alike, edges clamped,
// no colour-space conversion). False when the work memory cannot be had or
// the sizes are unusable; `output` then holds nothing meaningful.
bool resample_pixels(const uint8_t* input, int width, int height, int channels, uint8_t* output,
                     int newWidth, int newHeight);
