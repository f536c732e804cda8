#include "image_helper.h"

#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "jpeg_sections.h"
#include "pictures.h"
#include "test_files.h"
#include "test_root.h"

namespace {

// Central European time with its summer time, without needing the zone files.
constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(ExifParseDate, Texts) {
    struct Case {
        const char* text;
        int ok;
        int year, month, day, hour, minute, second;
    } cases[] = {
        {"2024:05:01 10:30:00", 1, 124, 4, 1, 10, 30, 0},
        {"1999:12:31 23:59:59", 1, 99, 11, 31, 23, 59, 59},
        {"2024:5:1 1:2:3", 1, 124, 4, 1, 1, 2, 3},
        {"2024:05:01 10:30:00 trailing", 1, 124, 4, 1, 10, 30, 0},
        {"2024:05:01", 0, 0, 0, 0, 0, 0, 0},
        {"2024:05:01 10:30", 0, 0, 0, 0, 0, 0, 0},
        {"2024-05-01 10:30:00", 0, 0, 0, 0, 0, 0, 0},
        {"", 0, 0, 0, 0, 0, 0, 0},
        {"    :  :     :  :  ", 0, 0, 0, 0, 0, 0, 0},
        {nullptr, 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        struct tm fields {};
        fields.tm_wday = 3;
        EXPECT_EQ(exif_parse_date(&fields, c.text), c.ok) << (c.text ? c.text : "null");
        EXPECT_EQ(fields.tm_wday, -1);
        if (c.ok == 0) continue;
        EXPECT_EQ(fields.tm_year, c.year);
        EXPECT_EQ(fields.tm_mon, c.month);
        EXPECT_EQ(fields.tm_mday, c.day);
        EXPECT_EQ(fields.tm_hour, c.hour);
        EXPECT_EQ(fields.tm_min, c.minute);
        EXPECT_EQ(fields.tm_sec, c.second);
        EXPECT_EQ(fields.tm_isdst, -1);
    }
}

TEST(IsoDateToTime, LocalTimeAndJunk) {
    ScopedTimeZone utc("UTC0");
    EXPECT_EQ(iso_date_to_time("2024-05-01T10:30:00"), 1714559400);
    EXPECT_EQ(iso_date_to_time("2024-05-01T10:30:00.000-07:00"), 1714559400);
    EXPECT_EQ(iso_date_to_time("2024-05-01"), 0);
    EXPECT_EQ(iso_date_to_time("2024:05:01 10:30:00"), 0);
    EXPECT_EQ(iso_date_to_time(nullptr), 0);
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

TEST_F(ExifDates, PictureTime) {
    struct Case {
        std::string date;
        bool exif;
        bool bigEndian;
        int32_t expected;  // -1: the current time
    } cases[] = {
        {"2024:05:01 10:30:00", true, false, 1714559400},
        {"2024:05:01 10:30:00", true, true, 1714559400},
        {"", true, false, -1},            // EXIF without the date entry
        {"2024:05:01", true, false, -1},  // a date without time is no date
        {"yesterday", true, false, -1},
        {"", false, false, 0},  // no EXIF block at all
    };
    for (const Case& c : cases) {
        camera(c.date, c.exif, c.bigEndian);
        time_t before = time(nullptr);
        int32_t t = exif_picture_time(card("cam.jpg").c_str());
        time_t after = time(nullptr);
        if (c.expected >= 0) {
            EXPECT_EQ(t, c.expected) << c.date;
        } else {
            EXPECT_GE(t, before) << c.date;
            EXPECT_LE(t, after) << c.date;
        }
    }
    EXPECT_EQ(exif_picture_time(card("missing.jpg").c_str()), 0);
    write_bytes(card("text.jpg"), "no picture");
    EXPECT_EQ(exif_picture_time(card("text.jpg").c_str()), 0);
}

TEST_F(ExifDates, PictureTimeIsLocal) {
    camera("2024:05:01 10:30:00");
    ScopedTimeZone berlin(kBerlin);
    EXPECT_EQ(exif_picture_time(card("cam.jpg").c_str()), 1714559400 - 7200);
}

TEST(InitTag, CreatesOnlyWhatIsMissing) {
    ExifHandle exif(exif_data_new());
    init_tag(exif.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    ExifEntry* entry =
        exif_content_get_entry(exif->ifd[EXIF_IFD_EXIF], EXIF_TAG_DATE_TIME_ORIGINAL);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->format, EXIF_FORMAT_ASCII);
    EXPECT_EQ(entry->size, 20u);
    EXPECT_EQ(exif->ifd[EXIF_IFD_EXIF]->count, 1u);

    std::memcpy(entry->data, "2001:02:03 04:05:06", 20);
    init_tag(exif.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    EXPECT_EQ(exif->ifd[EXIF_IFD_EXIF]->count, 1u);
    EXPECT_EQ(exif_text(exif.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL),
              "2001:02:03 04:05:06");

    init_tag(exif.get(), EXIF_IFD_COUNT, EXIF_TAG_DATE_TIME_ORIGINAL);
    init_tag(nullptr, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
}

std::vector<ExifTag> sorted_tags(ExifData* exif, ExifIfd ifd) {
    std::vector<ExifTag> tags = exif_tags(exif, ifd);
    std::sort(tags.begin(), tags.end());
    return tags;
}

TEST_F(ExifDates, CopyDateGivesAFreshMinimalBlock) {
    for (bool bigEndian : {false, true}) {
        camera("2024:05:01 10:30:00", true, bigEndian);
        const std::string source = read_bytes(card("cam.jpg"));
        const Picture pixelsBefore = decode_file(card("copy.jpg"));
        exif_copy_date(card("cam.jpg").c_str(), card("copy.jpg").c_str());

        EXPECT_EQ(read_bytes(card("cam.jpg")), source);
        ExifHandle copy = load_exif(card("copy.jpg"));
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(exif_data_get_byte_order(copy.get()), EXIF_BYTE_ORDER_INTEL);
        EXPECT_EQ(date_of("copy.jpg"), "2024:05:01 10:30:00");

        ExifHandle expected(exif_data_new());
        exif_data_set_data_type(expected.get(), EXIF_DATA_TYPE_COMPRESSED);
        exif_data_fix(expected.get());
        init_tag(expected.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
        for (ExifIfd ifd : {EXIF_IFD_0, EXIF_IFD_EXIF})
            EXPECT_EQ(sorted_tags(copy.get(), ifd), sorted_tags(expected.get(), ifd)) << ifd;
        EXPECT_EQ(exif_text(copy.get(), EXIF_IFD_0, EXIF_TAG_MAKE), "(none)");
        EXPECT_EQ(copy->size, 0u);  // no thumbnail

        Picture after = decode_file(card("copy.jpg"));
        ASSERT_EQ(after.width, 240);
        EXPECT_EQ(std::memcmp(after.pixels.get(), pixelsBefore.pixels.get(), 240 * 180 * 3), 0);
    }
}

TEST_F(ExifDates, CopyDateTwiceKeepsOneBlock) {
    camera("2024:05:01 10:30:00");
    exif_copy_date(card("cam.jpg").c_str(), card("copy.jpg").c_str());
    camera("2023:01:02 03:04:05");
    std::string pixels = read_bytes(card("copy.jpg"));
    exif_copy_date(card("cam.jpg").c_str(), card("copy.jpg").c_str());
    JpegSectionsHandle copy(jpeg_sections_from_file(card("copy.jpg").c_str()));
    int app1 = 0;
    for (uint32_t i = 0; i < copy->count; ++i) app1 += copy->sections[i].marker == kJpegMarkerAPP1;
    EXPECT_EQ(app1, 1);
    EXPECT_EQ(date_of("copy.jpg"), "2023:01:02 03:04:05");
}

TEST_F(ExifDates, SourcesWithoutADateWriteNothing) {
    struct Case {
        std::string date;
        bool exif;
    } cases[] = {{"", true}, {"2024:05:01", true}, {"not a date", true}, {"", false}};
    for (const Case& c : cases) {
        camera(c.date, c.exif);
        const std::string source = read_bytes(card("cam.jpg"));
        const std::string copy = read_bytes(card("copy.jpg"));
        exif_copy_date(card("cam.jpg").c_str(), card("copy.jpg").c_str());
        EXPECT_EQ(read_bytes(card("copy.jpg")), copy) << c.date;
        exif_correct_date(card("cam.jpg").c_str(), card("copy.jpg").c_str(), 60);
        EXPECT_EQ(read_bytes(card("copy.jpg")), copy) << c.date;
        EXPECT_EQ(load_exif(card("copy.jpg")), nullptr) << c.date;
        EXPECT_EQ(read_bytes(card("cam.jpg")), source) << c.date;
    }
    camera("2024:05:01 10:30:00");
    exif_copy_date(card("cam.jpg").c_str(), card("missing.jpg").c_str());
    exif_correct_date(card("cam.jpg").c_str(), card("missing.jpg").c_str(), 60);
    EXPECT_FALSE(root.exists("/media/sdcard/missing.jpg"));
    exif_copy_date(card("missing.jpg").c_str(), card("copy.jpg").c_str());
    EXPECT_EQ(load_exif(card("copy.jpg")), nullptr);
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
        {"UTC0", "2024:05:01 10:30:00", 0, "2024:05:01 10:30:00"},
        {kBerlin, "2024:03:31 01:30:00", 60, "2024:03:31 03:30:00"},  // into summer time
        {kBerlin, "2024:10:27 01:30:00", 120, "2024:10:27 02:30:00"},  // back to winter time
        {kBerlin, "2024:06:01 12:00:00", -525600, "2023:06:02 12:00:00"},
    };
    for (const Case& c : cases) {
        ScopedTimeZone tz(c.tz);
        camera(c.date, true, true);
        const Picture sourcePixels = decode_file(card("cam.jpg"));
        exif_correct_date(card("cam.jpg").c_str(), card("copy.jpg").c_str(), c.drift);
        EXPECT_EQ(date_of("copy.jpg"), c.corrected) << c.date << " " << c.drift;
        EXPECT_EQ(date_of("cam.jpg"), c.corrected) << c.date << " " << c.drift;

        // The source keeps everything else it held.
        ExifHandle source = load_exif(card("cam.jpg"));
        EXPECT_EQ(exif_data_get_byte_order(source.get()), EXIF_BYTE_ORDER_MOTOROLA);
        EXPECT_EQ(exif_text(source.get(), EXIF_IFD_0, EXIF_TAG_MAKE), "QZ Sim");
        EXPECT_EQ(exif_text(source.get(), EXIF_IFD_0, EXIF_TAG_DATE_TIME), c.date);
        EXPECT_EQ(exif_text(source.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_DIGITIZED), c.date);
        EXPECT_GT(source->size, 0u);
        Picture after = decode_file(card("cam.jpg"));
        ASSERT_EQ(after.width, 240);
        EXPECT_EQ(std::memcmp(after.pixels.get(), sourcePixels.pixels.get(), 240 * 180 * 3), 0);
        EXPECT_EQ(exif_data_get_byte_order(load_exif(card("copy.jpg")).get()),
                  EXIF_BYTE_ORDER_INTEL);
    }
}

}  // namespace
