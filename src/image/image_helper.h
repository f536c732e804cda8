#pragma once
#include <cstdint>
#include <ctime>
#include <vector>

// The date a picture was taken: the EXIF entry DateTimeOriginal of the EXIF
// sub-IFD. Reads it, and gives a resized copy a fresh, minimal EXIF block that
// carries it, unchanged or corrected by the camera clock's drift. Paths are
// real paths; times are local, seconds since the epoch.

typedef struct _ExifData ExifData;

// 1 when all six fields of "YYYY:MM:DD hh:mm:ss" were read into `fields`
// (year - 1900, month - 1, daylight flag -1), else 0. The weekday is set to -1
// first in every case.
int exif_parse_date(struct tm* fields, const char* text);

// "YYYY-MM-DDThh:mm:ss..." (anything after the seconds ignored) as local time;
// 0 when fewer than six fields could be read.
int32_t iso_date_to_time(const char* text);

// 0 when the file has no EXIF block (or cannot be read); the current time when
// the block has no DateTimeOriginal or its text is not a date; else that date.
int32_t exif_picture_time(const char* path);

// What one read of a camera picture's headers tells about when it was taken:
// enough for its time, the copy's date and the correction of its own.
struct PictureDate {
    int32_t time = 0;    // as exif_picture_time answers
    bool dated = false;  // DateTimeOriginal names a time the module can hold
    char text[20] = {};  // its bytes as the camera wrote them (at most 20)
    uint32_t textSize = 0;
    int64_t textOffset = -1;  // where the file holds those 19 characters; -1: not known for sure
};
PictureDate picture_date_read(const char* path);
// exif_copy_date and exif_correct_date on a date already read.
void picture_date_copy(const PictureDate& date, const char* copy_path);
void picture_date_correct(const char* source_path, const PictureDate& date, const char* copy_path,
                          int32_t drift_minutes);

// The date a copy of the picture carries, and what the camera's file must take
// to tell the same.
struct CopyDate {
    std::vector<uint8_t> exif;  // the copy's EXIF block (payload from "Exif"); empty without a date
    bool corrected = false;     // the camera's file is to take `text` (picture_date_patch)
    char text[20] = {};
};
// The picture's own date or, with `correct`, that date moved by the drift when
// the camera's text can be patched in place (else its own date).
CopyDate picture_copy_date(const PictureDate& date, bool correct, int32_t drift_minutes);
// Writes the corrected text over the camera's own in place; false when it could not.
bool picture_date_patch(const char* path, const PictureDate& date, const CopyDate& copy);

// Makes sure the IFD holds an entry for the tag, created with the tag's default
// format, size and value. `ifd` and `tag` are libexif's ExifIfd and ExifTag.
void init_tag(ExifData* exif, int ifd, int tag);

// The copy gets a fresh EXIF block whose DateTimeOriginal is the source's.
// Nothing is written when the source has no date.
void exif_copy_date(const char* source_path, const char* copy_path);

// The copy gets a fresh EXIF block whose DateTimeOriginal is the source's
// plus the drift; the same corrected text is patched over the source's own
// DateTimeOriginal in place (when the camera's text cannot be found for sure
// or not written, both keep the camera's date). Nothing is written when the
// source has no date.
void exif_correct_date(const char* source_path, const char* copy_path, int32_t drift_minutes);
