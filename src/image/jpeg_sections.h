#pragma once
#include <cstdint>
#include <memory>

// A JPEG file held as its list of marker sections plus the compressed image
// data, so that its EXIF block can be read or replaced without touching the
// picture. The EXIF section (APP1 with an "Exif" header) is held as a parsed
// EXIF data object; every other section, an APP1 without that header (XMP)
// included, as its bytes. Problems are reported to the attached EXIF log
// (domain "jpeg-data"); none is attached unless a caller attaches one.

typedef struct _ExifData ExifData;
typedef struct _ExifLog ExifLog;

enum : int32_t {
    kJpegMarkerSOI = 0xD8,
    kJpegMarkerEOI = 0xD9,
    kJpegMarkerSOS = 0xDA,
    kJpegMarkerAPP1 = 0xE1,
};

struct JpegSection {
    int32_t marker;
    // The EXIF section's data object (one reference held); null for every other section.
    ExifData* exif;
    // The segment's bytes without marker and length (for the EXIF section: the
    // block as loaded).
    uint8_t* data;
    uint32_t size;
};

struct JpegSectionsPrivate;

struct JpegSections {
    JpegSection* sections;
    uint32_t count;
    // Entropy-coded image data after the SOS header, without the closing EOI.
    uint8_t* data;
    uint32_t size;
    JpegSectionsPrivate* priv;
};

// A new container loaded from the file (empty when the file cannot be read);
// null only when the container itself cannot be allocated.
JpegSections* jpeg_sections_from_file(const char* path);
void jpeg_sections_load_file(JpegSections* container, const char* path);
// A new container with the file's sections up to the scan's header, read from
// the file's start alone: enough for its EXIF block at a fraction of the
// reading. It holds no image data and is never saved.
JpegSections* jpeg_sections_from_file_header(const char* path);
// Padding between segments and any number of fill bytes before a marker are
// taken as decoders take them. Parsing stops at the first problem, keeping the
// sections read before it; such a container is never saved.
void jpeg_sections_load_bytes(JpegSections* container, const uint8_t* bytes, uint32_t length);

// Where the first EXIF section's payload (from its "Exif" header) began in the
// bytes loaded; 0 when there was none.
uint32_t jpeg_sections_exif_offset(const JpegSections* container);

// The first EXIF section's object with one more reference (the caller releases
// it with exif_data_unref), or null.
ExifData* jpeg_sections_get_exif(JpegSections* container);
// Replaces the first EXIF section's object, or inserts a new EXIF section right
// after SOI; the container takes its own reference. An empty container (nothing
// loaded) stays empty: there is no picture to attach the block to.
void jpeg_sections_set_exif(JpegSections* container, ExifData* exif);

// Writes the sections to `path`, replacing the file atomically: a failed save
// leaves the old file as it was. 1 when the file was written completely, else 0
// (also for a container that was read in part only).
int jpeg_sections_save_file(JpegSections* container, const char* path);

// Releases the sections, the image data and the container at once, whatever
// references are left.
void jpeg_sections_free(JpegSections* container);

// A container starts with one reference; whoever keeps it beyond its owner's
// lifetime takes another. The last unref frees it.
void jpeg_sections_ref(JpegSections* container);
void jpeg_sections_unref(JpegSections* container);

// Where problems are reported (one reference is taken); null detaches.
void jpeg_sections_set_log(JpegSections* container, ExifLog* log);

// Owns one reference.
struct JpegSectionsUnref {
    void operator()(JpegSections* container) const noexcept { jpeg_sections_unref(container); }
};
using JpegSectionsHandle = std::unique_ptr<JpegSections, JpegSectionsUnref>;

// Owns one reference to an EXIF block.
struct ExifUnref {
    void operator()(ExifData* exif) const noexcept;
};
using ExifHandle = std::unique_ptr<ExifData, ExifUnref>;
