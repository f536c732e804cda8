#include "image/jpeg_sections.h"

#include <libexif/exif-data.h>
#include <libexif/exif-log.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/atomic_file.h"

struct JpegSectionsPrivate {
    uint32_t refs;
    ExifLog* log;
    // Parsing stopped on a problem: the container lacks part of the file.
    bool partial;
    // Where the first EXIF section's payload began in the loaded bytes; 0 for none.
    uint32_t exifOffset;
};

namespace {

constexpr const char* kDomain = "jpeg-data";
constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// A segment's length field counts itself: at most this many bytes of content.
constexpr uint32_t kMaxSegment = 0xFFFF - 2;

struct FreeBytes {
    void operator()(void* bytes) const noexcept { std::free(bytes); }
};
template <typename T>
using Malloced = std::unique_ptr<T, FreeBytes>;

struct FileClose {
    void operator()(FILE* file) const noexcept { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileClose>;

void report(const JpegSections* container, ExifLogCode code, const char* format, ...) {
    ExifLog* log = container->priv != nullptr ? container->priv->log : nullptr;
    if (log == nullptr) return;
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    exif_log(log, code, kDomain, "%s", message);
}

void report_no_memory(const JpegSections* container, size_t bytes) {
    report(container, EXIF_LOG_CODE_NO_MEMORY, "Could not allocate %lu byte(s).",
           static_cast<unsigned long>(bytes));
}

bool is_marker(uint8_t byte) { return byte >= 0xC0 && byte <= 0xFE; }

// Appends a zeroed section; null (reported) when the array cannot grow.
JpegSection* append_section(JpegSections* container) {
    size_t bytes = (static_cast<size_t>(container->count) + 1) * sizeof(JpegSection);
    void* grown = std::realloc(container->sections, bytes);
    if (grown == nullptr) {
        report_no_memory(container, bytes);
        return nullptr;
    }
    container->sections = static_cast<JpegSection*>(grown);
    JpegSection* section = &container->sections[container->count++];
    *section = JpegSection{0, nullptr, nullptr, 0};
    return section;
}

uint8_t* copy_bytes(const JpegSections* container, const uint8_t* bytes, uint32_t length) {
    auto* copy = static_cast<uint8_t*>(std::malloc(length == 0 ? 1 : length));
    if (copy == nullptr) {
        report_no_memory(container, length);
        return nullptr;
    }
    if (length != 0) std::memcpy(copy, bytes, length);
    return copy;
}

// The camera's block as it is: nothing dropped, nothing added, maker note kept.
ExifData* parse_exif(const JpegSections* container, const uint8_t* payload, uint32_t length) {
    ExifData* exif = exif_data_new();
    if (exif == nullptr) return nullptr;
    exif_data_unset_option(exif, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_unset_option(exif, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_option(exif, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    if (container->priv != nullptr && container->priv->log != nullptr)
        exif_data_log(exif, container->priv->log);
    exif_data_load_data(exif, payload, length);
    return exif;
}

void release_content(JpegSection& section) {
    if (section.exif != nullptr) exif_data_unref(section.exif);
    std::free(section.data);
    section.exif = nullptr;
    section.data = nullptr;
    section.size = 0;
}

JpegSection* first_exif_section(JpegSections* container) {
    for (uint32_t i = 0; i < container->count; ++i)
        if (container->sections[i].marker == kJpegMarkerAPP1 &&
            container->sections[i].exif != nullptr)
            return &container->sections[i];
    return nullptr;
}

// Appends the sections of the byte stream; false when it stopped before the end.
bool parse(JpegSections* container, const uint8_t* bytes, uint32_t length) {
    uint32_t o = 0;
    while (o < length) {
        // Some cameras pad between segments; decoders skip to the next marker.
        if (container->count > 0)
            while (o < length && bytes[o] != 0xFF) ++o;
        // Any number of fill bytes 0xFF may come before a marker.
        uint32_t fill = 0;
        while (fill < length - o && bytes[o + fill] == 0xFF) ++fill;
        if (fill >= length - o || !is_marker(bytes[o + fill])) {
            report(container, EXIF_LOG_CODE_CORRUPT_DATA,
                   "Data does not follow JPEG specification.");
            return false;
        }
        uint8_t marker = bytes[o + fill];
        JpegSection* section = append_section(container);
        if (section == nullptr) return false;
        section->marker = marker;
        o += fill + 1;
        if (marker == kJpegMarkerSOI || marker == kJpegMarkerEOI) continue;

        if (length - o < 2) return false;
        int32_t declared = (bytes[o] << 8) | bytes[o + 1];
        if (declared < 2) return false;
        uint32_t content = static_cast<uint32_t>(declared - 2);
        if (content > length - o - 2) return false;
        o += 2;
        const uint8_t* payload = bytes + o;

        section->data = copy_bytes(container, payload, content);
        if (section->data == nullptr) return false;
        section->size = content;
        if (marker == kJpegMarkerAPP1 && content >= sizeof kExifHeader &&
            std::memcmp(payload, kExifHeader, sizeof kExifHeader) == 0) {
            section->exif = parse_exif(container, payload, content);
            if (container->priv != nullptr && container->priv->exifOffset == 0)
                container->priv->exifOffset = o;
        }
        o += content;

        if (marker == kJpegMarkerSOS) {
            uint32_t rest = length - o;
            uint32_t image = rest >= 2 && bytes[o + rest - 2] == 0xFF ? rest - 2 : rest;
            std::free(container->data);
            container->data = copy_bytes(container, bytes + o, image);
            if (container->data == nullptr) {
                container->size = 0;
                return false;
            }
            container->size = image;
            o += image;
        }
    }
    return true;
}

// The file's bytes from its start to the end of the scan's header: every
// segment, without the picture. Stops early where the structure breaks off;
// parsing then stops at the same place.
void read_header(FILE* file, std::vector<uint8_t>& bytes) {
    auto next = [&]() {
        const int c = std::getc(file);
        if (c != EOF) bytes.push_back(static_cast<uint8_t>(c));
        return c;
    };
    for (int c = next(); c != EOF; c = next()) {
        if (c != 0xFF && bytes.size() == 1) return;  // no JPEG: nothing more to read
        if (c != 0xFF) continue;                      // padding between segments
        while ((c = next()) == 0xFF) {
        }
        if (c == EOF || !is_marker(static_cast<uint8_t>(c)) || c == kJpegMarkerEOI) return;
        if (c == kJpegMarkerSOI) continue;
        const int high = next(), low = next();
        if (low == EOF || ((high << 8) | low) < 2) return;
        const size_t content = static_cast<size_t>(((high << 8) | low) - 2), at = bytes.size();
        bytes.resize(at + content);
        const size_t got = std::fread(bytes.data() + at, 1, content, file);
        bytes.resize(at + got);
        if (got != content || c == kJpegMarkerSOS) return;
    }
}

bool put(FILE* file, const void* bytes, size_t length) {
    return length == 0 || std::fwrite(bytes, 1, length, file) == length;
}

bool put_segment(FILE* file, const uint8_t* bytes, uint32_t length) {
    const uint8_t size[2] = {static_cast<uint8_t>((length + 2) >> 8),
                             static_cast<uint8_t>((length + 2) & 0xFF)};
    return put(file, size, 2) && put(file, bytes, length);
}

// The EXIF section as libexif serialises the object; false (the save fails and
// the file stays as it was) when it cannot: no memory, or past what a segment holds.
bool put_exif(const JpegSections* container, FILE* file, const JpegSection& section) {
    unsigned char* serialised = nullptr;
    unsigned int length = 0;
    exif_data_save_data(section.exif, &serialised, &length);
    Malloced<unsigned char> owned(serialised);
    if (serialised != nullptr && length <= kMaxSegment) return put_segment(file, serialised, length);
    report(container, EXIF_LOG_CODE_CORRUPT_DATA, "Could not save the EXIF data (%u byte(s)).",
           length);
    return false;
}

bool write_sections(const JpegSections* container, FILE* file) {
    for (uint32_t i = 0; i < container->count; ++i) {
        const JpegSection& section = container->sections[i];
        const uint8_t marker[2] = {0xFF, static_cast<uint8_t>(section.marker)};
        if (!put(file, marker, 2)) return false;
        if (section.marker == kJpegMarkerSOI || section.marker == kJpegMarkerEOI) continue;
        bool ok = section.exif != nullptr ? put_exif(container, file, section)
                                          : put_segment(file, section.data, section.size);
        if (!ok) return false;
        if (section.marker == kJpegMarkerSOS && !put(file, container->data, container->size))
            return false;
    }
    return true;
}

JpegSections* new_container() {
    auto* container = static_cast<JpegSections*>(std::calloc(1, sizeof(JpegSections)));
    if (container == nullptr) return nullptr;
    container->priv =
        static_cast<JpegSectionsPrivate*>(std::calloc(1, sizeof(JpegSectionsPrivate)));
    if (container->priv == nullptr) {
        std::free(container);
        return nullptr;
    }
    container->priv->refs = 1;
    return container;
}

}  // namespace

JpegSections* jpeg_sections_from_file(const char* path) {
    JpegSections* container = new_container();
    jpeg_sections_load_file(container, path);
    return container;
}

JpegSections* jpeg_sections_from_file_header(const char* path) {
    JpegSections* container = new_container();
    File file(path == nullptr ? nullptr : std::fopen(path, "rbe"));
    if (container == nullptr || !file) return container;
    std::vector<uint8_t> bytes;
    read_header(file.get(), bytes);
    if (bytes.size() > UINT32_MAX) return container;
    jpeg_sections_load_bytes(container, bytes.data(), static_cast<uint32_t>(bytes.size()));
    container->priv->partial = true;  // no picture: never to be saved
    return container;
}

void jpeg_sections_load_file(JpegSections* container, const char* path) {
    if (container == nullptr) return;
    File file(path == nullptr ? nullptr : std::fopen(path, "rb"));
    if (!file) {
        report(container, EXIF_LOG_CODE_CORRUPT_DATA, "Path '%s' invalid.", path ? path : "");
        return;
    }
    long length = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0) length = std::ftell(file.get());
    if (length < 0 || static_cast<uint64_t>(length) > UINT32_MAX ||
        std::fseek(file.get(), 0, SEEK_SET) != 0) {
        report(container, EXIF_LOG_CODE_CORRUPT_DATA, "Could not read '%s'.", path);
        return;
    }
    size_t size = static_cast<size_t>(length);
    Malloced<uint8_t> bytes(static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size)));
    if (!bytes) {
        report_no_memory(container, size);
        return;
    }
    if (std::fread(bytes.get(), 1, size, file.get()) != size) {
        report(container, EXIF_LOG_CODE_CORRUPT_DATA, "Could not read '%s'.", path);
        return;
    }
    file.reset();
    jpeg_sections_load_bytes(container, bytes.get(), static_cast<uint32_t>(size));
}

void jpeg_sections_load_bytes(JpegSections* container, const uint8_t* bytes, uint32_t length) {
    if (container == nullptr || bytes == nullptr) return;
    const bool whole = parse(container, bytes, length);
    if (container->priv != nullptr && !whole) container->priv->partial = true;
}

ExifData* jpeg_sections_get_exif(JpegSections* container) {
    if (container == nullptr) return nullptr;
    JpegSection* section = first_exif_section(container);
    if (section == nullptr) return nullptr;
    exif_data_ref(section->exif);
    return section->exif;
}

void jpeg_sections_set_exif(JpegSections* container, ExifData* exif) {
    if (container == nullptr || exif == nullptr) return;
    if (JpegSection* section = first_exif_section(container)) {
        exif_data_ref(exif);
        release_content(*section);
        section->exif = exif;
        return;
    }
    if (container->count == 0) return;
    if (append_section(container) == nullptr) return;
    JpegSection* sections = container->sections;
    std::memmove(&sections[2], &sections[1], (container->count - 2) * sizeof(JpegSection));
    exif_data_ref(exif);
    sections[1] = JpegSection{kJpegMarkerAPP1, exif, nullptr, 0};
}

int jpeg_sections_save_file(JpegSections* container, const char* path) {
    if (container == nullptr || container->count == 0 || path == nullptr) return 0;
    // Saving what was read of a damaged file would cut the rest of it off.
    if (container->priv != nullptr && container->priv->partial) {
        report(container, EXIF_LOG_CODE_CORRUPT_DATA, "Not saving '%s': read in part only.", path);
        return 0;
    }
    int rc = atomic_file_write(path, [container](FILE* file) {
        return write_sections(container, file);
    });
    return rc == 0 ? 1 : 0;
}

void jpeg_sections_free(JpegSections* container) {
    if (container == nullptr) return;
    for (uint32_t i = 0; i < container->count; ++i) release_content(container->sections[i]);
    std::free(container->sections);
    std::free(container->data);
    if (container->priv != nullptr && container->priv->log != nullptr)
        exif_log_unref(container->priv->log);
    std::free(container->priv);
    std::free(container);
}

uint32_t jpeg_sections_exif_offset(const JpegSections* container) {
    return container != nullptr && container->priv != nullptr ? container->priv->exifOffset : 0;
}

void jpeg_sections_ref(JpegSections* container) {
    if (container != nullptr && container->priv != nullptr) ++container->priv->refs;
}

void jpeg_sections_unref(JpegSections* container) {
    if (container == nullptr || container->priv == nullptr) return;
    if (--container->priv->refs == 0) jpeg_sections_free(container);
}

void jpeg_sections_set_log(JpegSections* container, ExifLog* log) {
    if (container == nullptr || container->priv == nullptr) return;
    if (log != nullptr) exif_log_ref(log);
    if (container->priv->log != nullptr) exif_log_unref(container->priv->log);
    container->priv->log = log;
}

void ExifUnref::operator()(ExifData* exif) const noexcept { exif_data_unref(exif); }
