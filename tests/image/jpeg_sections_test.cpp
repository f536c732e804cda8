#include "image/jpeg_sections.h"

#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <string>
#include <vector>

#include "tests/image/test_files.h"
#include "tests/support/test_root.h"

namespace {

const std::string kApp0 = std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14);
const std::string kDqt = std::string(65, '\x01');
const std::string kSosHeader = std::string("\x01\x01\x00\x00\x3F\x00", 6);
const std::string kScan = "\x12\x34\xFF\x00\x56";

struct Segment {
    int marker;
    std::string payload;
};

// A JPEG byte stream put together from raw {marker, payload} segments.
std::string jpeg_bytes(const std::vector<Segment>& segments, const std::string& scan = "",
                       bool withEoi = true) {
    std::string bytes;
    for (const Segment& segment : segments) {
        bytes += '\xFF';
        bytes += static_cast<char>(segment.marker);
        if (segment.marker == 0xD8 || segment.marker == 0xD9) continue;
        size_t length = segment.payload.size() + 2;
        bytes += static_cast<char>(length >> 8);
        bytes += static_cast<char>(length & 0xFF);
        bytes += segment.payload;
        if (segment.marker == 0xDA) bytes += scan;
    }
    if (withEoi) bytes += "\xFF\xD9";
    return bytes;
}

std::vector<int> markers(const JpegSections* c) {
    std::vector<int> list;
    for (uint32_t i = 0; i < c->count; ++i) list.push_back(c->sections[i].marker);
    return list;
}

std::string content(const JpegSection& s) {
    return s.data == nullptr ? std::string() : std::string(reinterpret_cast<char*>(s.data), s.size);
}

std::string image_data(const JpegSections* c) {
    return c->data == nullptr ? std::string() : std::string(reinterpret_cast<char*>(c->data), c->size);
}

class Sections : public ::testing::Test {
protected:
    std::string card(const std::string& name) const { return root.path("/media/sdcard/" + name); }

    JpegSectionsHandle parse(const std::string& bytes) {
        JpegSectionsHandle c(jpeg_sections_from_file(card("nothing-here").c_str()));
        jpeg_sections_load_bytes(c.get(), reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<uint32_t>(bytes.size()));
        return c;
    }

    std::string plain_jpeg() const {
        return jpeg_bytes({{0xD8, ""}, {0xE0, kApp0}, {0xDB, kDqt}, {0xDA, kSosHeader}}, kScan);
    }

    TestRoot root;
};

TEST_F(Sections, MarkersFillBytesPaddingAndImageData) {
    const std::string plain = plain_jpeg();
    const std::vector<int> all = {0xD8, 0xE0, 0xDB, 0xDA, 0xD9};
    const size_t dqt = plain.find("\xFF\xDB");
    auto scan_only = [](const std::string& scan, bool eoi) {
        return jpeg_bytes({{0xD8, ""}, {0xDA, kSosHeader}}, scan, eoi);
    };
    struct Case {
        std::string bytes;
        std::vector<int> markers;
        std::string data;
    } cases[] = {
        {plain, all, kScan},
        {std::string(20, '\xFF') + plain, all, kScan},
        {std::string(plain).insert(dqt, 8, '\xFF'), all, kScan},
        {std::string(plain).insert(dqt, std::string("\0\0\x11", 3)), all, kScan},
        {std::string(plain).insert(dqt, std::string("\0\xFF\xFF", 3)), all, kScan},
        {plain.substr(1), all, kScan},  // a marker without 0xFF
        {std::string(1, '\0') + plain, {}, ""},  // padding comes only between segments
        {std::string(plain).insert(dqt, "\xFF\x01"), {0xD8, 0xE0}, ""},
        // Fill bytes up to the end: taken for the closing marker, then nothing follows.
        {plain + "\xFF\xFF", {0xD8, 0xE0, 0xDB, 0xDA}, kScan + "\xFF\xD9"},
        {scan_only(kScan, true), {0xD8, 0xDA, 0xD9}, kScan},
        {scan_only(kScan, false), {0xD8, 0xDA}, kScan},  // cut short: the whole tail is data
        {scan_only("", true), {0xD8, 0xDA, 0xD9}, ""},
        {scan_only("", false), {0xD8, 0xDA}, ""},
        {scan_only(std::string("\x01\xFF\x00", 3), false), {0xD8, 0xDA}, "\x01"},  // taken as EOI
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.bytes.substr(0, 30)));
        auto c = parse(k.bytes);
        EXPECT_EQ(markers(c.get()), k.markers);
        EXPECT_EQ(image_data(c.get()), k.data);
        if (k.markers == all) {
            EXPECT_EQ(std::vector<std::string>({content(c->sections[1]), content(c->sections[2]),
                                                content(c->sections[3])}),
                      std::vector<std::string>({kApp0, kDqt, kSosHeader}));
        }
    }
}

// A file read in part is never saved: the rest of it would be lost.
TEST_F(Sections, BadSegmentLengthsStopParsingAndSaving) {
    const std::string head = jpeg_bytes({{0xD8, ""}, {0xE0, kApp0}}, "", false);
    struct Case {
        std::string tail;
        size_t count;
        bool saved;
        uint32_t dqtSize;
    } cases[] = {
        {std::string("\xFF\xDB\x00\x01", 4), 3, false, 0},  // length 1
        {std::string("\xFF\xDB\x00", 3), 3, false, 0},      // one length byte
        {std::string("\xFF\xDB\x00\x10\x01", 5), 3, false, 0},  // longer than what is left
        {std::string("\xFF\xDB\x00\x02", 4) + "\xFF\xD9", 4, true, 0},  // empty segment is fine
        {std::string("\xFF\xDB\x00\x03\x07", 5), 3, true, 1},  // ends with the file: whole
    };
    for (const Case& k : cases) {
        auto c = parse(head + k.tail);
        ASSERT_EQ(c->count, k.count) << testing::PrintToString(k.tail);
        EXPECT_EQ(content(c->sections[1]), kApp0);
        EXPECT_EQ(c->sections[2].marker, 0xDB);
        EXPECT_EQ(c->sections[2].size, k.dqtSize);
        sim_write_file(card("in.jpg"), head + k.tail);
        JpegSectionsHandle loaded(jpeg_sections_from_file(card("in.jpg").c_str()));
        EXPECT_EQ(jpeg_sections_save_file(loaded.get(), card("in.jpg").c_str()), k.saved ? 1 : 0);
        EXPECT_EQ(sim_read_file(card("in.jpg")), head + k.tail);
        // Its headers alone read the same, and are never saved.
        JpegSectionsHandle header(jpeg_sections_from_file_header(card("in.jpg").c_str()));
        EXPECT_EQ(header->count, k.count);
        EXPECT_EQ(jpeg_sections_save_file(header.get(), card("out.jpg").c_str()), 0);
    }
}

// The daemon sets the EXIF block only on its own copies: it goes right after
// SOI, ahead of the JFIF header, and a second one replaces the first.
TEST_F(Sections, SetExifInsertsRightAfterSoi) {
    auto c = parse(plain_jpeg());
    EXPECT_EQ(jpeg_sections_get_exif(c.get()), nullptr);
    for (int i = 0; i < 2; ++i) {
        jpeg_sections_set_exif(c.get(), ExifHandle(exif_data_new()).get());
        // The container holds its own reference: the block outlives the handle.
        ASSERT_EQ(jpeg_sections_save_file(c.get(), card("out.jpg").c_str()), 1) << i;
        EXPECT_NE(load_exif(card("out.jpg")), nullptr) << i;
    }
    EXPECT_EQ(markers(c.get()), (std::vector<int>{0xD8, 0xE1, 0xE0, 0xDB, 0xDA, 0xD9}));
    EXPECT_EQ(content(c->sections[2]), kApp0);
}

}  // namespace
