#include "image/image_memory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

// Each block carries its size in front, padded to keep the payload aligned.
constexpr size_t kHeader = alignof(std::max_align_t);

std::atomic<size_t> g_ceiling{0};
std::atomic<size_t> g_inUse{0};
std::atomic<size_t> g_peak{0};

// Takes `bytes` out of the ceiling; false when that would pass it.
bool reserve(size_t bytes) {
    size_t ceiling = g_ceiling.load();
    size_t held = g_inUse.load();
    do {
        if (bytes > SIZE_MAX - held || (ceiling != 0 && held + bytes > ceiling)) return false;
    } while (!g_inUse.compare_exchange_weak(held, held + bytes));
    size_t peak = g_peak.load();
    while (held + bytes > peak && !g_peak.compare_exchange_weak(peak, held + bytes)) {
    }
    return true;
}

void release(size_t bytes) { g_inUse.fetch_sub(bytes); }

size_t size_of(void* payload) {
    size_t bytes;
    std::memcpy(&bytes, static_cast<char*>(payload) - kHeader, sizeof bytes);
    return bytes;
}

void* stamp(void* base, size_t bytes) {
    std::memcpy(base, &bytes, sizeof bytes);
    return static_cast<char*>(base) + kHeader;
}

}  // namespace

void* image_malloc(size_t bytes) {
    if (bytes > SIZE_MAX - kHeader || !reserve(bytes)) return nullptr;
    void* base = std::malloc(bytes + kHeader);
    if (base == nullptr) {
        release(bytes);
        return nullptr;
    }
    return stamp(base, bytes);
}

void image_free(void* block) {
    if (block == nullptr) return;
    release(size_of(block));
    std::free(static_cast<char*>(block) - kHeader);
}

void image_memory_set_ceiling(size_t bytes) { g_ceiling.store(bytes); }
size_t image_memory_in_use() { return g_inUse.load(); }
size_t image_memory_peak() { return g_peak.load(); }
void image_memory_reset_peak() { g_peak.store(g_inUse.load()); }
