#include "image/image_helper.h"

#include <libexif/exif-data.h>
#include <libexif/exif-entry.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/clock_helpers.h"
#include "image/jpeg_sections.h"

namespace {

// Bytes of "YYYY:MM:DD hh:mm:ss" with its terminator.
constexpr unsigned kDateSize = 20;
constexpr size_t kDateChars = kDateSize - 1;
// Fields beyond this are not a date; it also keeps the arithmetic below in range.
constexpr int kFieldLimit = 1000000;

bool fields_in_range(std::initializer_list<int> fields) {
    return std::all_of(fields.begin(), fields.end(),
                       [](int field) { return field > -kFieldLimit && field < kFieldLimit; });
}

// Six numbers read with `pattern` into `fields` as broken-down local time. A
// camera whose clock was never set writes zeros: that is no date.
int parse_fields(struct tm* fields, const char* text, const char* pattern) {
    int year, month, day, hour, minute, second;
    if (text == nullptr ||
        std::sscanf(text, pattern, &year, &month, &day, &hour, &minute, &second) != 6 ||
        !fields_in_range({year, month, day, hour, minute, second}) || year <= 0 || month <= 0 ||
        day <= 0)
        return 0;
    fields->tm_year = year - 1900;
    fields->tm_mon = month - 1;
    fields->tm_mday = day;
    fields->tm_hour = hour;
    fields->tm_min = minute;
    fields->tm_sec = second;
    fields->tm_isdst = -1;
    return 1;
}

// The local time the fields name; false when the module could not hold it
// (its times are 32-bit).
bool to_time(struct tm fields, int32_t& when) {
    const time_t converted = clock_make_local(&fields);
    const int64_t wide = static_cast<int64_t>(converted);
    if (converted == static_cast<time_t>(-1) || wide < INT32_MIN || wide > INT32_MAX) return false;
    when = static_cast<int32_t>(wide);
    return true;
}

struct tm local_fields(time_t when) { return clock_local_fields(when); }

ExifEntry* date_entry(ExifData* exif) {
    if (exif == nullptr) return nullptr;
    ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_EXIF], EXIF_TAG_DATE_TIME_ORIGINAL);
    return entry != nullptr && entry->data != nullptr ? entry : nullptr;
}

// The entry's bytes as a terminated text (the card's bytes need not be terminated).
void entry_text(const ExifEntry* entry, char (&text)[32]) {
    size_t length = std::min<size_t>(entry->size, sizeof text - 1);
    std::memcpy(text, entry->data, length);
    text[length] = '\0';
}

// A new block that holds what the library requires, little-endian.
ExifHandle fresh_block() {
    ExifHandle exif(exif_data_new());
    if (!exif) return exif;
    exif_data_set_option(exif.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
    exif_data_set_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    exif_data_set_data_type(exif.get(), EXIF_DATA_TYPE_COMPRESSED);
    exif_data_set_byte_order(exif.get(), EXIF_BYTE_ORDER_INTEL);
    exif_data_fix(exif.get());
    return exif;
}

// The fresh block's DateTimeOriginal, made to exist; null when it cannot be.
ExifEntry* fresh_date_entry(ExifData* exif) {
    init_tag(exif, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    ExifEntry* entry = date_entry(exif);
    return entry != nullptr && entry->size >= kDateSize ? entry : nullptr;
}

// Puts the block into the copy's sections (replacing its EXIF section or
// inserting one after SOI) and saves the copy.
void attach_and_save(ExifData* exif, const char* copy_path) {
    JpegSectionsHandle copy(jpeg_sections_from_file(copy_path));
    if (!copy) return;
    jpeg_sections_set_exif(copy.get(), exif);
    jpeg_sections_save_file(copy.get(), copy_path);
}

// The time the entry's text names; false when it is no date the module can hold.
bool entry_time(const ExifEntry* entry, int32_t& when) {
    char text[32];
    entry_text(entry, text);
    struct tm fields = local_fields(clock_now());
    return exif_parse_date(&fields, text) == 1 && to_time(fields, when);
}

// The source's date moved by the drift; false when that is no time the module can hold.
bool corrected_text(int32_t taken, int32_t drift_minutes, char (&text)[kDateSize]) {
    const int64_t corrected = int64_t{taken} + int64_t{drift_minutes} * 60;
    if (corrected < INT32_MIN || corrected > INT32_MAX) return false;
    struct tm fields = local_fields(static_cast<time_t>(corrected));
    // Formatted in full, then cut to the entry's 19 characters and terminator.
    char formatted[80];
    std::snprintf(formatted, sizeof formatted, "%4d:%02d:%02d %02d:%02d:%02d",
                  fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                  fields.tm_min, fields.tm_sec);
    std::memset(text, 0, kDateSize);
    std::memcpy(text, formatted, kDateChars);
    return true;
}

// The numbers of a TIFF block (the EXIF payload after its "Exif" header).
struct Tiff {
    const uint8_t* bytes;
    size_t size;
    bool intel;

    bool number(size_t at, size_t width, uint32_t& value) const {
        if (at > size || width > size - at) return false;
        value = 0;
        for (size_t i = 0; i < width; ++i) value = value << 8 | bytes[at + (intel ? width - 1 - i : i)];
        return true;
    }
    // Where the tag's 12-byte entry lies in the directory at `directory`; 0 when it has none.
    size_t entry(uint32_t directory, uint32_t tag) const {
        uint32_t count = 0, found = 0;
        if (!number(directory, 2, count)) return 0;
        for (uint32_t i = 0; i < count; ++i) {
            const size_t at = size_t{directory} + 2 + size_t{12} * i;
            if (!number(at, 2, found)) return 0;
            if (found == tag) return at;
        }
        return 0;
    }
};

constexpr size_t kTiffStart = 6;  // after the "Exif\0\0" header
constexpr uint32_t kExifIfdPointer = 0x8769;

// Where DateTimeOriginal's text lies in an EXIF payload, and its length.
bool find_date_text(const uint8_t* payload, size_t size, size_t& offset, size_t& length) {
    if (size < kTiffStart + 8) return false;
    const Tiff tiff{payload + kTiffStart, size - kTiffStart, payload[kTiffStart] == 'I'};
    uint32_t first = 0, exifDirectory = 0, format = 0, count = 0, value = 0;
    size_t pointer = 0, date = 0;
    if (!tiff.number(4, 4, first) || (pointer = tiff.entry(first, kExifIfdPointer)) == 0 ||
        !tiff.number(pointer + 8, 4, exifDirectory) ||
        (date = tiff.entry(exifDirectory, EXIF_TAG_DATE_TIME_ORIGINAL)) == 0 ||
        !tiff.number(date + 2, 2, format) || format != EXIF_FORMAT_ASCII ||
        !tiff.number(date + 4, 4, count))
        return false;
    // Up to four bytes sit in the entry itself; longer texts where it points.
    size_t at = date + 8;
    if (count > 4) {
        if (!tiff.number(date + 8, 4, value)) return false;
        at = value;
    }
    if (at > tiff.size || count > tiff.size - at) return false;
    offset = kTiffStart + at;
    length = count;
    return true;
}

// Where the file holds the entry's text, found in the EXIF payload by hand
// and checked against what the library read there; -1 when that is not sure.
int64_t text_offset(const JpegSections* sections, const ExifEntry* entry) {
    const JpegSection* exif = nullptr;
    for (uint32_t i = 0; i < sections->count && exif == nullptr; ++i)
        if (sections->sections[i].exif != nullptr) exif = &sections->sections[i];
    size_t offset = 0, length = 0;
    const uint32_t start = jpeg_sections_exif_offset(sections);
    if (exif == nullptr || start == 0 || !find_date_text(exif->data, exif->size, offset, length) ||
        length != entry->size || length < kDateChars ||
        std::memcmp(exif->data + offset, entry->data, length) != 0)
        return -1;
    return int64_t{start} + static_cast<int64_t>(offset);
}

// Writes the corrected text over the camera's own, in place: one write of its
// 19 characters, synced; not a byte else of the camera's file is touched.
bool patch_date(const char* path, const PictureDate& date, const char* text) {
    if (date.textOffset < 0) return false;
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool patched = pwrite(fd, text, kDateChars, static_cast<off_t>(date.textOffset)) ==
                             static_cast<ssize_t>(kDateChars) &&
                         fsync(fd) == 0;
    return close(fd) == 0 && patched;
}

// A fresh block whose date is `text`; null when it cannot be made.
ExifHandle dated_block(const char* text, size_t size) {
    ExifHandle fresh = fresh_block();
    ExifEntry* entry = fresh ? fresh_date_entry(fresh.get()) : nullptr;
    if (entry == nullptr) return nullptr;
    std::memcpy(entry->data, text, std::min<size_t>(size, kDateSize));
    entry->data[kDateSize - 1] = '\0';
    return fresh;
}

// A fresh block carrying `text` goes into the copy.
void date_copy(const char* copy_path, const char* text, size_t size) {
    ExifHandle block = dated_block(text, size);
    if (block) attach_and_save(block.get(), copy_path);
}

// The block's bytes as the copy's EXIF section holds them; empty when it cannot be serialised.
std::vector<uint8_t> serialised(ExifData* exif) {
    unsigned char* bytes = nullptr;
    unsigned int length = 0;
    if (exif != nullptr) exif_data_save_data(exif, &bytes, &length);
    std::vector<uint8_t> block(bytes, bytes + (bytes != nullptr ? length : 0));
    std::free(bytes);
    return block;
}

}  // namespace

int exif_parse_date(struct tm* fields, const char* text) {
    if (fields == nullptr) return 0;
    fields->tm_wday = -1;
    return parse_fields(fields, text, "%d:%d:%d %d:%d:%d");
}

int32_t iso_date_to_time(const char* text) {
    struct tm fields = local_fields(clock_now());
    int32_t when = 0;
    if (parse_fields(&fields, text, "%d-%d-%dT%d:%d:%d") == 0 || !to_time(fields, when)) return 0;
    return when;
}

PictureDate picture_date_read(const char* path) {
    PictureDate date;
    const int32_t now = static_cast<int32_t>(clock_now());
    JpegSectionsHandle sections(jpeg_sections_from_file_header(path));
    ExifHandle exif(sections ? jpeg_sections_get_exif(sections.get()) : nullptr);
    if (!exif) return date;
    const ExifEntry* entry = date_entry(exif.get());
    date.dated = entry != nullptr && entry_time(entry, date.time);
    if (!date.dated) {
        date.time = now;
        return date;
    }
    date.textSize = std::min<uint32_t>(entry->size, kDateSize);
    std::memcpy(date.text, entry->data, date.textSize);
    date.textOffset = text_offset(sections.get(), entry);
    return date;
}

void picture_date_copy(const PictureDate& date, const char* copy_path) {
    if (date.dated) date_copy(copy_path, date.text, date.textSize);
}

void picture_date_correct(const char* source_path, const PictureDate& date, const char* copy_path,
                          int32_t drift_minutes) {
    if (!date.dated) return;
    // The camera's file first: when it cannot take the corrected date, the copy
    // keeps the camera's date too, so that both always tell the same.
    const CopyDate copy = picture_copy_date(date, true, drift_minutes);
    if (copy.corrected && picture_date_patch(source_path, date, copy))
        date_copy(copy_path, copy.text, kDateSize);
    else
        picture_date_copy(date, copy_path);
}

CopyDate picture_copy_date(const PictureDate& date, bool correct, int32_t drift_minutes) {
    CopyDate copy;
    if (!date.dated) return copy;
    copy.corrected = correct && date.textOffset >= 0 && corrected_text(date.time, drift_minutes, copy.text);
    if (!copy.corrected) std::memcpy(copy.text, date.text, date.textSize);
    copy.exif = serialised(dated_block(copy.text, kDateSize).get());
    return copy;
}

bool picture_date_patch(const char* path, const PictureDate& date, const CopyDate& copy) {
    return copy.corrected && patch_date(path, date, copy.text);
}

int32_t exif_picture_time(const char* path) { return picture_date_read(path).time; }

void init_tag(ExifData* exif, int ifd, int tag) {
    if (exif == nullptr || ifd < 0 || ifd >= EXIF_IFD_COUNT) return;
    ExifContent* content = exif->ifd[ifd];
    auto exifTag = static_cast<ExifTag>(tag);
    if (content == nullptr || exif_content_get_entry(content, exifTag) != nullptr) return;
    ExifEntry* entry = exif_entry_new();
    if (entry == nullptr) return;
    entry->tag = exifTag;
    exif_content_add_entry(content, entry);
    exif_entry_initialize(entry, exifTag);
    exif_entry_unref(entry);
}

void exif_copy_date(const char* source_path, const char* copy_path) {
    picture_date_copy(picture_date_read(source_path), copy_path);
}

void exif_correct_date(const char* source_path, const char* copy_path, int32_t drift_minutes) {
    picture_date_correct(source_path, picture_date_read(source_path), copy_path, drift_minutes);
}
