#pragma once
#include <cstdint>
#include <ctime>

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

// Makes sure the IFD holds an entry for the tag, created with the tag's default
// format, size and value. `ifd` and `tag` are libexif's ExifIfd and ExifTag.
void init_tag(ExifData* exif, int ifd, int tag);

// The copy gets a fresh EXIF block whose DateTimeOriginal is the source's.
// Nothing is written when the source has no date.
void exif_copy_date(const char* source_path, const char* copy_path);

// The copy gets a fresh EXIF block whose DateTimeOriginal is the source's
// plus the drift; the source's own DateTimeOriginal is rewritten to the same
// corrected text. Nothing is written when the source has no date.
void exif_correct_date(const char* source_path, const char* copy_path, int32_t drift_minutes);
