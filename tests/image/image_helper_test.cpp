#include "image/image_helper.h"

#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <vector>

#include "image/jpeg_sections.h"
#include "sim/pictures.h"
#include "tests/image/test_files.h"
#include "tests/support/test_root.h"

namespace {

// Central European time with its summer time, without needing the zone files.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(IsoDateToTime, LocalTimeAndJunk) {
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(iso_date_to_time("2024-05-01T10:30:00"), 1714559400);
    EXPECT_EQ(iso_date_to_time("2024-05-01T10:30:00.000-07:00"), 1714559400);
    for (const char* junk : {"2024-05-01", "2024:05:01 10:30:00", "0000-00-00T00:00:00",
                             "2040-01-01T00:00:00", static_cast<const char*>(nullptr)})
        EXPECT_EQ(iso_date_to_time(junk), 0) << (junk ? junk : "null");
    ScopedTimeZone berlin(kBerlin);
    EXPECT_EQ(iso_date_to_time("2024-05-01T10:30:00Z"), 1714559400 - 7200);
    EXPECT_EQ(iso_date_to_time("2024-01-01T10:30:00"), 1704105000 - 3600);
}

class ExifDates : public ::testing::Test {
protected:
    std::string card(const std::string& name) const { return root.path("/media/sdcard/" + name); }

    // A camera picture with the given date ("" none), and a resized copy without EXIF.
    void camera(const std::string& date, bool exif = true, bool bigEndian = false) {
        SimPicture p;
        p.width = 240;
        p.height = 180;
        p.dateTimeOriginal = date;
        p.exif = exif;
        p.bigEndian = bigEndian;
        ASSERT_EQ(sim_write_picture(card("cam.jpg").c_str(), p), 0);
        std::string pixels = sim_picture_pixels(p);
        ASSERT_EQ(picture_write_jpeg(card("copy.jpg").c_str(),
                                     reinterpret_cast<const uint8_t*>(pixels.data()), 240, 180, 3,
                                     100),
                  0);
    }

    std::string date_of(const std::string& name) const {
        return exif_text(load_exif(card(name)).get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    }

    ScopedTimeZone utc{"UTC0"};
    TestRoot root;
};

// A source without a date the module can hold gives no time, and neither the
// copy nor the camera's file takes a date from it.
TEST_F(ExifDates, PictureTimeAndSourcesWithoutADate) {
    struct Case {
        const char* tz;
        std::string date;
        bool exif;
        int32_t expected;  // -1: the current time
    } cases[] = {
        {"UTC0", "2024:05:01 10:30:00", true, 1714559400},
        {kBerlin, "2024:05:01 10:30:00", true, 1714559400 - 7200},
        {"UTC0", "", true, -1},            // EXIF without the date entry
        {"UTC0", "2024:05:01", true, -1},  // a date without time is no date
        {"UTC0", "0000:00:00 00:00:00", true, -1},  // a camera whose clock was never set
        {"UTC0", "2024:00:01 10:30:00", true, -1},
        {"UTC0", "2024:05:00 10:30:00", true, -1},
        {"UTC0", "2040:01:01 00:00:00", true, -1},  // past what 32 bits hold
        {"UTC0", "", false, 0},  // no EXIF block at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date);
        camera(c.date, c.exif);
        ScopedTimeZone tz(c.tz);
        time_t before = time(nullptr);
        int32_t t = exif_picture_time(card("cam.jpg").c_str());
        time_t after = time(nullptr);
        if (c.expected > 0) {
            EXPECT_EQ(t, c.expected);
            continue;
        }
        EXPECT_TRUE(c.expected == 0 ? t == 0 : t >= before && t <= after) << t;
        const std::string source = sim_read_file(card("cam.jpg"));
        const std::string copy = sim_read_file(card("copy.jpg"));
        exif_copy_date(card("cam.jpg").c_str(), card("copy.jpg").c_str());
        exif_correct_date(card("cam.jpg").c_str(), card("copy.jpg").c_str(), 60);
        EXPECT_TRUE(sim_read_file(card("copy.jpg")) == copy);
        EXPECT_TRUE(sim_read_file(card("cam.jpg")) == source);
    }
    EXPECT_EQ(exif_picture_time(card("missing.jpg").c_str()), 0);
    camera("2024:05:01 10:30:00");
    exif_copy_date(card("cam.jpg").c_str(), card("missing.jpg").c_str());
    exif_correct_date(card("cam.jpg").c_str(), card("missing.jpg").c_str(), 60);
    EXPECT_FALSE(root.exists("/media/sdcard/missing.jpg"));
}

std::vector<ExifTag> sorted_tags(ExifData* exif, ExifIfd ifd) {
    std::vector<ExifTag> tags;
    for (unsigned i = 0; i < exif->ifd[ifd]->count; ++i) tags.push_back(exif->ifd[ifd]->entries[i]->tag);
    std::sort(tags.begin(), tags.end());
    return tags;
}

TEST_F(ExifDates, CopyDateGivesAFreshMinimalBlock) {
    // What the library requires, and the date; in tag order.
    const std::vector<ExifTag> first = {EXIF_TAG_X_RESOLUTION, EXIF_TAG_Y_RESOLUTION,
                                        EXIF_TAG_RESOLUTION_UNIT, EXIF_TAG_YCBCR_POSITIONING};
    const std::vector<ExifTag> exifIfd = {
        EXIF_TAG_EXIF_VERSION,      EXIF_TAG_DATE_TIME_ORIGINAL, EXIF_TAG_COMPONENTS_CONFIGURATION,
        EXIF_TAG_FLASH_PIX_VERSION, EXIF_TAG_COLOR_SPACE,        EXIF_TAG_PIXEL_X_DIMENSION,
        EXIF_TAG_PIXEL_Y_DIMENSION};
    camera("2024:05:01 10:30:00", true, true);
    const std::string source = sim_read_file(card("cam.jpg"));
    const std::string pixels = pixels_of(card("copy.jpg"));
    exif_copy_date(card("cam.jpg").c_str(), card("copy.jpg").c_str());
    // Twice: still one EXIF section.
    exif_copy_date(card("cam.jpg").c_str(), card("copy.jpg").c_str());

    EXPECT_TRUE(sim_read_file(card("cam.jpg")) == source);
    ExifHandle copy = load_exif(card("copy.jpg"));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(exif_data_get_byte_order(copy.get()), EXIF_BYTE_ORDER_INTEL);
    EXPECT_EQ(date_of("copy.jpg"), "2024:05:01 10:30:00");
    EXPECT_EQ(sorted_tags(copy.get(), EXIF_IFD_0), first);
    EXPECT_EQ(sorted_tags(copy.get(), EXIF_IFD_EXIF), exifIfd);
    EXPECT_EQ(copy->size, 0u);  // no thumbnail
    EXPECT_TRUE(pixels_of(card("copy.jpg")) == pixels);
    JpegSectionsHandle sections(jpeg_sections_from_file(card("copy.jpg").c_str()));
    EXPECT_EQ(std::count_if(sections->sections, sections->sections + sections->count,
                            [](const JpegSection& s) { return s.marker == kJpegMarkerAPP1; }),
              1);
}

TEST_F(ExifDates, CorrectDateShiftsCopyAndSource) {
    struct Case {
        const char* tz;
        std::string date;
        int32_t drift;
        std::string corrected;
    } cases[] = {
        {"UTC0", "2024:05:01 00:30:00", -90, "2024:04:30 23:00:00"},
        {"UTC0", "2024:12:31 23:59:30", 1, "2025:01:01 00:00:30"},
        {"UTC0", "2024:02:28 12:00:00", 1440, "2024:02:29 12:00:00"},
        {kBerlin, "2024:03:31 01:30:00", 60, "2024:03:31 03:30:00"},  // into summer time
        {kBerlin, "2024:10:27 01:30:00", 120, "2024:10:27 02:30:00"},  // back to winter time
        {kBerlin, "2024:06:01 12:00:00", -525600, "2023:06:02 12:00:00"},
        // Corrected past what 32 bits hold: both keep the camera's date.
        {"UTC0", "2038:01:19 00:00:00", 1440, "2038:01:19 00:00:00"},
    };
    for (const Case& c : cases) {
        ScopedTimeZone tz(c.tz);
        camera(c.date, true, true);
        const std::string source = sim_read_file(card("cam.jpg"));
        struct stat before {}, after {};
        stat(card("cam.jpg").c_str(), &before);
        exif_correct_date(card("cam.jpg").c_str(), card("copy.jpg").c_str(), c.drift);
        EXPECT_EQ(date_of("copy.jpg"), c.corrected) << c.date << " " << c.drift;
        EXPECT_EQ(date_of("cam.jpg"), c.corrected) << c.date << " " << c.drift;

        // Nothing but the date text changed in the camera's file; a date that
        // could not be corrected leaves every byte.
        const size_t span = changed_span(source, sim_read_file(card("cam.jpg")));
        stat(card("cam.jpg").c_str(), &after);
        EXPECT_EQ(after.st_ino, before.st_ino);  // written in place, not replaced
        EXPECT_TRUE(c.date == c.corrected ? span == 0 : span > 0 && span <= 19) << c.date << span;
    }
}

}  // namespace
