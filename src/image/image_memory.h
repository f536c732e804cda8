#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

// The heap of the picture pipeline: the decoded picture, the resampler's work
// memory and the output pixels come from here (libjpeg's own working memory
// does not; libjpeg reports its exhaustion itself). On the module a failed
// allocation is what tells picture processing to add a swap file; a ceiling on
// the bytes held at once lets tests and benchmarks model that small memory.

// nullptr when the block cannot be had (no memory, or over the ceiling).
void* image_malloc(size_t bytes);
void image_free(void* block);

// Most bytes the pipeline may hold at once; 0 for no ceiling (the default).
void image_memory_set_ceiling(size_t bytes);
// Bytes held now, and the most held at once since the last reset.
size_t image_memory_in_use();
size_t image_memory_peak();
void image_memory_reset_peak();

struct ImageFree {
    void operator()(void* block) const noexcept { image_free(block); }
};
using ImageBytes = std::unique_ptr<uint8_t[], ImageFree>;

// An uninitialised pixel buffer; empty when it cannot be had.
inline ImageBytes image_bytes(size_t bytes) {
    return ImageBytes(static_cast<uint8_t*>(image_malloc(bytes)));
}
