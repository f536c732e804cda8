#include "pictures.h"

#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <string>

#include "test_files.h"
#include "test_root.h"

namespace {

class Pictures : public ::testing::Test {
protected:
    std::string card(const std::string& name) const { return root.path("/media/sdcard/" + name); }
    TestRoot root;
};

TEST_F(Pictures, CameraLikeJpegWithExif) {
    SimPicture p;
    p.width = 800;
    p.height = 600;
    p.dateTimeOriginal = "2024:05:01 10:30:00";
    ASSERT_EQ(sim_write_picture(card("a.jpg").c_str(), p), 0);
    Picture decoded = decode_file(card("a.jpg"));
    EXPECT_EQ(decoded.width, 800);
    EXPECT_EQ(decoded.height, 600);
    EXPECT_EQ(decoded.channels, 3);
    // Fine detail: a camera's picture at this quality is not small.
    EXPECT_GT(read_bytes(card("a.jpg")).size(), 800u * 600u / 4);

    ExifHandle exif = load_exif(card("a.jpg"));
    ASSERT_NE(exif, nullptr);
    EXPECT_EQ(exif_data_get_byte_order(exif.get()), EXIF_BYTE_ORDER_INTEL);
    EXPECT_EQ(exif_text(exif.get(), EXIF_IFD_0, EXIF_TAG_MAKE), "QZ Sim");
    EXPECT_EQ(exif_text(exif.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL),
              "2024:05:01 10:30:00");
    ASSERT_GT(exif->size, 0u);
    write_bytes(card("thumb.jpg"), std::string(reinterpret_cast<char*>(exif->data), exif->size));
    EXPECT_EQ(decode_file(card("thumb.jpg")).width, 160);
}

TEST_F(Pictures, ExifVariants) {
    SimPicture p;
    p.width = 64;
    p.height = 48;
    p.bigEndian = true;
    p.dateTimeOriginal = "2024:05:01";  // written as given, even when it is no full date
    ASSERT_EQ(sim_write_picture(card("a.jpg").c_str(), p), 0);
    ExifHandle exif = load_exif(card("a.jpg"));
    EXPECT_EQ(exif_data_get_byte_order(exif.get()), EXIF_BYTE_ORDER_MOTOROLA);
    EXPECT_EQ(exif_text(exif.get(), EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL), "2024:05:01");

    p.dateTimeOriginal.clear();
    ASSERT_EQ(sim_write_picture(card("b.jpg").c_str(), p), 0);
    exif = load_exif(card("b.jpg"));
    ASSERT_NE(exif, nullptr);
    EXPECT_EQ(exif_content_get_entry(exif->ifd[EXIF_IFD_EXIF], EXIF_TAG_DATE_TIME_ORIGINAL),
              nullptr);

    p.exif = false;
    ASSERT_EQ(sim_write_picture(card("c.jpg").c_str(), p), 0);
    EXPECT_EQ(load_exif(card("c.jpg")), nullptr);
    EXPECT_EQ(read_bytes(card("c.jpg")).substr(0, 4), "\xFF\xD8\xFF\xE0");
}

TEST_F(Pictures, SeedsAndBadArguments) {
    SimPicture p;
    p.width = 96;
    p.height = 64;
    EXPECT_EQ(sim_picture_pixels(p), sim_picture_pixels(p));
    SimPicture other = p;
    other.seed = 2;
    EXPECT_NE(sim_picture_pixels(p), sim_picture_pixels(other));

    SimPicture empty = p;
    empty.width = 0;
    EXPECT_EQ(sim_write_picture(card("x.jpg").c_str(), empty), -1);
    EXPECT_EQ(sim_write_picture(card("no/dir/x.jpg").c_str(), p), -1);
    EXPECT_FALSE(root.exists("/media/sdcard/x.jpg"));
}

}  // namespace
