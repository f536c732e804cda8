#include "image_helper.h"

#include <libexif/exif-data.h>
#include <libexif/exif-entry.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "clock_helpers.h"
#include "jpeg_sections.h"

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

// Six numbers read with `pattern` into `fields` as broken-down local time.
int parse_fields(struct tm* fields, const char* text, const char* pattern) {
    int year, month, day, hour, minute, second;
    if (text == nullptr ||
        std::sscanf(text, pattern, &year, &month, &day, &hour, &minute, &second) != 6 ||
        !fields_in_range({year, month, day, hour, minute, second}))
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

struct tm local_fields(time_t when) {
    struct tm fields {};
    localtime_r(&when, &fields);
    return fields;
}

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

// The source's sections, EXIF block and dated entry, all present, or an empty result.
struct DatedSource {
    JpegSectionsHandle sections;
    ExifHandle exif;
    ExifEntry* entry = nullptr;
    struct tm date {};
};

bool load_dated(const char* path, DatedSource& source) {
    source.sections.reset(jpeg_sections_from_file(path));
    if (!source.sections) return false;
    source.exif.reset(jpeg_sections_get_exif(source.sections.get()));
    source.entry = date_entry(source.exif.get());
    if (source.entry == nullptr) return false;
    char text[32];
    entry_text(source.entry, text);
    source.date = local_fields(clock_now());
    return exif_parse_date(&source.date, text) == 1;
}

}  // namespace

int exif_parse_date(struct tm* fields, const char* text) {
    if (fields == nullptr) return 0;
    fields->tm_wday = -1;
    return parse_fields(fields, text, "%d:%d:%d %d:%d:%d");
}

int32_t iso_date_to_time(const char* text) {
    struct tm fields = local_fields(clock_now());
    if (parse_fields(&fields, text, "%d-%d-%dT%d:%d:%d") == 0) return 0;
    return static_cast<int32_t>(mktime(&fields));
}

int32_t exif_picture_time(const char* path) {
    time_t now = clock_now();
    JpegSectionsHandle sections(jpeg_sections_from_file(path));
    if (!sections) return 0;
    ExifHandle exif(jpeg_sections_get_exif(sections.get()));
    if (!exif) return 0;
    ExifEntry* entry = date_entry(exif.get());
    if (entry == nullptr) return static_cast<int32_t>(now);
    char text[32];
    entry_text(entry, text);
    struct tm fields = local_fields(now);
    if (exif_parse_date(&fields, text) == 0) return static_cast<int32_t>(now);
    return static_cast<int32_t>(mktime(&fields));
}

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
    ExifHandle fresh = fresh_block();
    if (!fresh) return;
    DatedSource source;
    if (!load_dated(source_path, source)) return;
    ExifEntry* entry = fresh_date_entry(fresh.get());
    if (entry == nullptr) return;
    std::memcpy(entry->data, source.entry->data, std::min(source.entry->size, kDateSize));
    entry->data[kDateSize - 1] = '\0';
    attach_and_save(fresh.get(), copy_path);
}

void exif_correct_date(const char* source_path, const char* copy_path, int32_t drift_minutes) {
    ExifHandle fresh = fresh_block();
    if (!fresh) return;
    DatedSource source;
    if (!load_dated(source_path, source)) return;
    int64_t corrected = static_cast<int64_t>(mktime(&source.date)) + int64_t{drift_minutes} * 60;
    struct tm fields = local_fields(static_cast<time_t>(corrected));
    // Formatted in full, then cut to the entry's 19 characters and terminator.
    char formatted[80];
    std::snprintf(formatted, sizeof formatted, "%4d:%02d:%02d %02d:%02d:%02d",
                  fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                  fields.tm_min, fields.tm_sec);
    char text[kDateSize] = {};
    std::memcpy(text, formatted, kDateChars);

    ExifEntry* entry = fresh_date_entry(fresh.get());
    if (entry == nullptr) return;
    std::memcpy(entry->data, text, sizeof text);
    attach_and_save(fresh.get(), copy_path);

    std::memcpy(source.entry->data, text, std::min<size_t>(source.entry->size, kDateChars));
    jpeg_sections_save_file(source.sections.get(), source_path);
}
