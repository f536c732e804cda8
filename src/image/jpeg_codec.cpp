#include "image/jpeg_codec.h"

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>

#include "core/atomic_file.h"
#include "image/resample.h"

namespace {

// The side libjpeg decodes at scale M/8: rounded up.
int64_t scaled(int side, int eighths) { return (int64_t{side} * eighths + 7) / 8; }

struct FileClose {
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};

struct CodecErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// libjpeg's errors end the work: back to the setjmp of decode() or encode() with the message.
[[noreturn]] void stop_on_error(j_common_ptr info) {
    auto* errors = reinterpret_cast<CodecErrors*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (a scan cut short, damaged data stepped over) are not printed: the
// picture is used as far as it could be recovered.
void keep_quiet(j_common_ptr /*info*/) {}

// The error manager a decompression or a compression starts with.
jpeg_error_mgr* codec_error_manager(CodecErrors& errors) {
    jpeg_error_mgr* manager = jpeg_std_error(&errors.manager);
    manager->error_exit = stop_on_error;
    manager->output_message = keep_quiet;
    return manager;
}

// libjpeg's state, released on every path; kept outside decode() so that
// nothing a jump could leave half-changed lives in its frame.
struct Decompression {
    jpeg_decompress_struct info{};
    CodecErrors errors{};
    Decompression() { info.err = codec_error_manager(errors); }
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

// A camera file read in 64 KiB blocks, where libjpeg's own stdio source reads
// 4 KiB: its fast Huffman decoder needs a few KiB ahead of it in the buffer and
// falls back to the slow one near each block's end, which at 4 KiB is often.
constexpr size_t kReadBlock = 65536;

struct FileSource {
    jpeg_source_mgr manager{};
    FILE* file = nullptr;
    JOCTET* block = nullptr;
    bool started = false;
};

void start_reading(j_decompress_ptr info) {
    reinterpret_cast<FileSource*>(info->src)->started = false;
}

// As libjpeg's stdio source: an empty file is an error, a file cut short ends
// in an end marker of our own and a warning, and the picture is used as far as it goes.
boolean read_block(j_decompress_ptr info) {
    auto* source = reinterpret_cast<FileSource*>(info->src);
    size_t count = std::fread(source->block, 1, kReadBlock, source->file);
    if (count == 0) {
        if (!source->started) ERREXIT(info, JERR_INPUT_EMPTY);
        WARNMS(info, JWRN_JPEG_EOF);
        source->block[0] = 0xFF;
        source->block[1] = JPEG_EOI;
        count = 2;
    }
    source->manager.next_input_byte = source->block;
    source->manager.bytes_in_buffer = count;
    source->started = true;
    return TRUE;
}

void skip_bytes(j_decompress_ptr info, long count) {
    jpeg_source_mgr* manager = info->src;
    while (count > static_cast<long>(manager->bytes_in_buffer)) {
        count -= static_cast<long>(manager->bytes_in_buffer);
        read_block(info);
    }
    if (count <= 0) return;
    manager->next_input_byte += count;
    manager->bytes_in_buffer -= static_cast<size_t>(count);
}

void stop_reading(j_decompress_ptr /*info*/) {}

// The source lives in libjpeg's pools and goes with the decompression.
void read_from_file(j_decompress_ptr info, FILE* file) {
    auto* source = static_cast<FileSource*>((*info->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(info), JPOOL_PERMANENT, sizeof(FileSource)));
    *source = FileSource{};
    source->file = file;
    source->block = static_cast<JOCTET*>((*info->mem->alloc_large)(
        reinterpret_cast<j_common_ptr>(info), JPOOL_PERMANENT, kReadBlock));
    source->manager.init_source = start_reading;
    source->manager.fill_input_buffer = read_block;
    source->manager.skip_input_data = skip_bytes;
    source->manager.resync_to_restart = jpeg_resync_to_restart;
    source->manager.term_source = stop_reading;
    info->src = &source->manager;
}

// Only trivially destructible locals here: libjpeg's errors jump back into
// this frame. 0, -1 (the message is in `d.errors`) or -2 (memory ran out).
int decode(Decompression& d, FILE* file, int32_t budget, Picture& picture) {
    if (setjmp(d.errors.jump) != 0)
        return d.errors.manager.msg_code == JERR_OUT_OF_MEMORY ? -2 : -1;
    jpeg_create_decompress(&d.info);
    read_from_file(&d.info, file);
    jpeg_read_header(&d.info, TRUE);
    const bool cmyk = d.info.jpeg_color_space == JCS_CMYK || d.info.jpeg_color_space == JCS_YCCK;
    if (cmyk) d.info.out_color_space = JCS_CMYK;
    int width = 0, height = 0;
    const int fullWidth = static_cast<int>(d.info.image_width);
    const int fullHeight = static_cast<int>(d.info.image_height);
    resample_target_size(fullWidth, fullHeight, budget, width, height);
    d.info.scale_num =
        static_cast<unsigned>(picture_decode_eighths(fullWidth, fullHeight, width, height));
    d.info.scale_denom = 8;
    jpeg_start_decompress(&d.info);

    const size_t stride =
        size_t{d.info.output_width} * static_cast<size_t>(d.info.output_components);
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

// A marker segment holds at most 65,533 bytes after its length.
constexpr size_t kMaxMarkerBytes = 65533;

// The encoded file grows in one malloc'd block, which the owner frees, also
// after an error.
struct MemoryDestination {
    jpeg_destination_mgr manager{};
    uint8_t* bytes = nullptr;
    size_t capacity = 0;
    size_t used = 0;
};

constexpr size_t kFirstBlock = 16384;

// Makes the block `capacity` bytes long, what it holds kept.
void resize_block(j_compress_ptr info, size_t capacity) {
    auto* destination = reinterpret_cast<MemoryDestination*>(info->dest);
    auto* grown = static_cast<uint8_t*>(std::realloc(destination->bytes, capacity));
    if (grown == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    destination->manager.next_output_byte = grown + destination->capacity;
    destination->manager.free_in_buffer = capacity - destination->capacity;
    destination->bytes = grown;
    destination->capacity = capacity;
}

void start_block(j_compress_ptr info) { resize_block(info, kFirstBlock); }

// Called with the block full: it doubles.
boolean grow_block(j_compress_ptr info) {
    resize_block(info, 2 * reinterpret_cast<MemoryDestination*>(info->dest)->capacity);
    return TRUE;
}

void end_block(j_compress_ptr info) {
    auto* destination = reinterpret_cast<MemoryDestination*>(info->dest);
    destination->used = destination->capacity - destination->manager.free_in_buffer;
}

struct Compression {
    jpeg_compress_struct info{};
    CodecErrors errors{};
    MemoryDestination destination{};
    Compression() {
        info.err = codec_error_manager(errors);
        destination.manager.init_destination = start_block;
        destination.manager.empty_output_buffer = grow_block;
        destination.manager.term_destination = end_block;
    }
    ~Compression() {
        jpeg_destroy_compress(&info);
        std::free(destination.bytes);
    }
    Compression(const Compression&) = delete;
    Compression& operator=(const Compression&) = delete;
};

// Only trivially destructible locals here: libjpeg's errors jump back into this frame.
bool encode(Compression& c, const uint8_t* pixels, int width, int height, int channels, int quality,
            const std::vector<uint8_t>& exif) {
    if (setjmp(c.errors.jump) != 0) return false;
    jpeg_create_compress(&c.info);
    c.info.dest = &c.destination.manager;
    c.info.image_width = static_cast<JDIMENSION>(width);
    c.info.image_height = static_cast<JDIMENSION>(height);
    c.info.input_components = channels;
    c.info.in_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, quality, TRUE);
    c.info.optimize_coding = TRUE;
    c.info.write_JFIF_header = exif.empty() ? TRUE : FALSE;
    jpeg_start_compress(&c.info, TRUE);
    if (!exif.empty())
        jpeg_write_marker(&c.info, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
    const size_t stride = static_cast<size_t>(width) * static_cast<size_t>(channels);
    while (c.info.next_scanline < c.info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(pixels) + stride * c.info.next_scanline;
        jpeg_write_scanlines(&c.info, &row, 1);
    }
    jpeg_finish_compress(&c.info);
    return true;
}

// Of two encodings, one that fits beats one that does not; of two that fit,
// the higher quality; of two that do not, the smaller file.
bool better_fit(const JpegFile& a, const JpegFile& b, size_t maxBytes) {
    if (!b.bytes) return true;
    if ((a.size <= maxBytes) != (b.size <= maxBytes)) return a.size <= maxBytes;
    return a.size <= maxBytes ? a.quality > b.quality : a.size < b.size;
}

// File sizes grow with the quality. The search narrows the qualities between
// the highest known to fit and the lowest known not to, guessing each next one
// on the straight line between their sizes, until a file fits within a few
// per cent of the limit.
class QualitySearch {
public:
    explicit QualitySearch(size_t maxBytes) : max_(static_cast<double>(maxBytes)) {}
    static int first() { return kFirstGuess; }
    // The next quality to try after `tried`; 0 when the search is over.
    int next(const JpegFile& tried) {
        const auto size = static_cast<double>(tried.size);
        if (size <= max_) {
            fit_ = {tried.quality, size};
            if (size >= kCloseEnough * max_) return 0;
        } else {
            over_ = {tried.quality, size};
        }
        if (over_.quality - fit_.quality <= 1 || ++tries_ == kMostTries) return 0;
        if (over_.quality > 100) return (fit_.quality + over_.quality) / 2;
        const double share = (kAim * max_ - fit_.size) / (over_.size - fit_.size);
        const int guess = fit_.quality + static_cast<int>(share * (over_.quality - fit_.quality));
        return std::clamp(guess, fit_.quality + 1, over_.quality - 1);
    }

private:
    struct Point {
        int quality;
        double size;
    };
    // Camera pictures at the copies' sizes land near it.
    static constexpr int kFirstGuess = 60;
    static constexpr int kMostTries = 6;
    static constexpr double kCloseEnough = 0.92;
    static constexpr double kAim = 0.96;
    double max_;
    int tries_ = 0;
    Point fit_{0, 0};     // quality 0: nothing tried fits yet
    Point over_{101, 0};  // quality 101: everything tried fits
};

}  // namespace

int picture_decode_eighths(int width, int height, int targetWidth, int targetHeight) {
    for (int eighths = 1; eighths < 8; ++eighths)
        if (scaled(width, eighths) >= targetWidth && scaled(height, eighths) >= targetHeight)
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

bool picture_encode_jpeg(const uint8_t* pixels, int width, int height, int channels, int quality,
                         const std::vector<uint8_t>& exif, JpegFile& out) {
    if (pixels == nullptr || width <= 0 || height <= 0 || (channels != 1 && channels != 3) ||
        exif.size() > kMaxMarkerBytes)
        return false;
    quality = std::clamp(quality, 1, 100);
    Compression compression;
    if (!encode(compression, pixels, width, height, channels, quality, exif)) return false;
    out.bytes.reset(compression.destination.bytes);
    compression.destination.bytes = nullptr;
    out.size = compression.destination.used;
    out.quality = quality;
    return true;
}

bool picture_encode_jpeg_within(const uint8_t* pixels, int width, int height, int channels,
                                size_t maxBytes, const std::vector<uint8_t>& exif, JpegFile& out) {
    QualitySearch search(maxBytes);
    JpegFile trial;
    for (int quality = search.first(); quality != 0;) {
        if (!picture_encode_jpeg(pixels, width, height, channels, quality, exif, trial))
            return false;
        quality = search.next(trial);
        if (better_fit(trial, out, maxBytes)) std::swap(out, trial);
    }
    return true;
}

bool picture_encode_jpeg(FILE* file, const uint8_t* pixels, int width, int height, int channels,
                         int quality) {
    JpegFile encoded;
    return file != nullptr &&
           picture_encode_jpeg(pixels, width, height, channels, quality, {}, encoded) &&
           std::fwrite(encoded.bytes.get(), 1, encoded.size, file) == encoded.size;
}

int picture_write_jpeg(const char* path, const uint8_t* pixels, int width, int height, int channels,
                       int quality) {
    JpegFile encoded;
    if (!picture_encode_jpeg(pixels, width, height, channels, quality, {}, encoded)) return -1;
    return atomic_file_write(path, [&](FILE* file) {
        return std::fwrite(encoded.bytes.get(), 1, encoded.size, file) == encoded.size;
    });
}
