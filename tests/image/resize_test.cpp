#include "image/resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>  // after <cstdio>: it takes FILE

#include "image/image_memory.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "tests/image/test_files.h"
#include "tests/support/test_root.h"

namespace {

TEST(ResampleTargetSize, KeepsAspectWithinBudget) {
    const struct {
        int width, height;
        int32_t budget;
        int newWidth, newHeight;
    } cases[] = {
        {4000, 3000, 202800, 520, 390},    {1920, 1080, 202800, 600, 338},
        {3000, 4000, 202800, 390, 520},    {520, 390, 202800, 520, 390},
        {521, 390, 202800, 520, 390},      {4000, 3000, 2073600, 1663, 1247},
        {4608, 2592, 2073600, 1920, 1080}, {300000, 1, 200000, 244949, 1},
        {1000, 1, 10, 100, 0},             {10, 10, -5, 0, 0},
    };
    for (const auto& c : cases) {
        int w = -1, h = -1;
        resample_target_size(c.width, c.height, c.budget, w, h);
        EXPECT_EQ(w, c.newWidth) << c.width << "x" << c.height << " @" << c.budget;
        EXPECT_EQ(h, c.newHeight) << c.width << "x" << c.height << " @" << c.budget;
    }
}

// The smallest M/8 that covers the copy.
TEST(PictureDecodeEighths, SmallestScaleThatCoversTheCopy) {
    const struct {
        int width, height, targetWidth, targetHeight, eighths;
    } cases[] = {
        {4000, 3000, 520, 390, 2},   {3000, 4000, 390, 520, 2},  // 1000 x 750 for 202,800
        {4000, 3000, 1663, 1247, 4},  // 2000 x 1500 for 2,073,600
        {1920, 1080, 600, 338, 3},   {1920, 1080, 1920, 1080, 8}, {640, 480, 520, 390, 7},
        {4000, 3000, 500, 375, 1},   {4000, 3000, 501, 375, 2},   {3999, 3000, 500, 375, 1},  // 3999 / 8 rounds up to 500
    };
    for (const auto& c : cases)
        EXPECT_EQ(picture_decode_eighths(c.width, c.height, c.targetWidth, c.targetHeight), c.eighths)
            << c.width << "x" << c.height << " -> " << c.targetWidth << "x" << c.targetHeight;
}

// The kernel in double precision, from its definition.
double lanczos3_exact(double x) {
    const double pi = 3.14159265358979323846;
    if (std::fabs(x) >= 3) return 0;
    if (x == 0) return 1;
    return std::sin(pi * x) / (pi * x) * std::sin(pi * x / 3) / (pi * x / 3);
}

// One row shrunk through Lanczos-3 as the resampler defines it: pixel centres
// at n + 0.5, edge pixels repeated, weights normalised per output.
std::vector<double> reference_row(const std::vector<uint8_t>& row, int newWidth) {
    const int width = static_cast<int>(row.size());
    const double scale = static_cast<double>(newWidth) / width;  // at most 1
    std::vector<double> out(static_cast<size_t>(newWidth));
    for (int i = 0; i < newWidth; ++i) {
        double sum = 0, weights = 0;
        const double centre = (i + 0.5) / scale;  // in input pixels
        const double reach = 3 / scale;
        for (int n = static_cast<int>(std::floor(centre - reach)) - 1;
             n <= static_cast<int>(std::ceil(centre + reach)) + 1; ++n) {
            double w = lanczos3_exact((n + 0.5 - centre) * scale);
            int clamped = std::min(std::max(n, 0), width - 1);
            sum += w * row[static_cast<size_t>(clamped)];
            weights += w;
        }
        out[static_cast<size_t>(i)] = sum / weights;
    }
    return out;
}

// A random row (along x) or column (along y) through the resampler: the
// other axis keeps its one pixel, so the output is the 1-D filter of the line.
TEST(ResamplePixels, EachAxisIsFilteredWithLanczos3) {
    struct Case {
        bool alongX;
        int size, newSize;
    } cases[] = {{true, 300, 117}, {false, 200, 60}, {true, 64, 64}};
    std::mt19937 random(7);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.alongX ? "along x, " : "along y, ") + std::to_string(c.size) +
                     " -> " + std::to_string(c.newSize));
        std::vector<uint8_t> line(static_cast<size_t>(c.size));
        for (auto& value : line) value = static_cast<uint8_t>(random() & 0xFF);
        std::vector<uint8_t> output(static_cast<size_t>(c.newSize));
        const int width = c.alongX ? c.size : 1, height = c.alongX ? 1 : c.size;
        const int newWidth = c.alongX ? c.newSize : 1, newHeight = c.alongX ? 1 : c.newSize;
        ASSERT_TRUE(resample_pixels(line.data(), width, height, 1, output.data(), newWidth, newHeight));
        std::vector<double> expected = reference_row(line, c.newSize);
        for (size_t i = 0; i < output.size(); ++i)
            ASSERT_NEAR(output[i], std::clamp(expected[i], 0.0, 255.0), 1.0) << "pixel " << i;
    }
}

TEST(ResamplePixels, TakesItsWorkMemoryFromThePictureHeap) {
    std::vector<uint8_t> input(16 * 16 * 3, 100), output(8 * 8 * 3);
    image_memory_set_ceiling(1);
    EXPECT_FALSE(resample_pixels(input.data(), 16, 16, 3, output.data(), 8, 8));
    image_memory_set_ceiling(0);
    EXPECT_TRUE(resample_pixels(input.data(), 16, 16, 3, output.data(), 8, 8));
    EXPECT_EQ(output[0], 100);
}

class ResizePicture : public ::testing::Test {
protected:
    void TearDown() override { image_memory_set_ceiling(0); }

    std::string card(const std::string& name) const { return root.path("/media/sdcard/" + name); }

    std::string picture(const std::string& name, int width, int height) const {
        EXPECT_TRUE(write_camera_picture(card(name), width, height, 80));
        return card(name);
    }

    TestRoot root;
};

TEST_F(ResizePicture, BadInputsAndOutputs) {
    std::string good = picture("good.jpg", 300, 200);
    sim_write_file(card("text.jpg"), "this is not a picture at all");
    std::string cut = sim_read_file(good).substr(0, 200);
    sim_write_file(card("cut.jpg"), cut);
    struct Case {
        std::string source, destination;
        int32_t budget;
        int32_t result;
        std::string logged;
    } cases[] = {
        {card("missing.jpg"), card("o.jpg"), 202800, -1, "Image resize error: can't fopen"},
        {card("text.jpg"), card("o.jpg"), 202800, -1,
         "Image resize error: Not a JPEG file: starts with 0x74 0x68"},
        {card("cut.jpg"), card("o.jpg"), 202800, -1,
         "Image resize error: JPEG datastream contains no image"},
        {good, card("no/such/dir/o.jpg"), 202800, -3,
         "Image resize error: cannot write " + card("no/such/dir/o.jpg") + ": No such file or directory"},
        {good, card("o.jpg"), 0, -2, "Image resize error: write jpg failed"},
    };
    for (const Case& c : cases) {
        root.write("/media/sdcard/log.txt", "");
        EXPECT_EQ(resize_picture(c.source.c_str(), c.destination.c_str(), c.budget), c.result)
            << c.source;
        std::string logged = root.log();
        EXPECT_NE(logged.find(";process;2;" + c.logged + "\r\n"), std::string::npos)
            << c.source << ": " << logged;
        EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;
    }
    EXPECT_FALSE(root.exists("/media/sdcard/o.jpg"));
}

// 1600 x 1200 decodes at 3/8 for the transmit copy.
TEST_F(ResizePicture, OutOfMemoryWhileDecodingIsRetryableAndSilent) {
    std::string source = picture("in.jpg", 1600, 1200);
    const size_t scaled = 600u * 450u * 3u;
    image_memory_set_ceiling(scaled - 1);
    EXPECT_EQ(resize_picture(source.c_str(), card("out.jpg").c_str(), 202800), -2);
    EXPECT_EQ(root.log(), "");
    EXPECT_FALSE(root.exists("/media/sdcard/out.jpg"));
    EXPECT_EQ(image_memory_in_use(), 0u);

    image_memory_set_ceiling(0);  // with more memory (the swap file) it goes through
    image_memory_reset_peak();
    EXPECT_EQ(resize_picture(source.c_str(), card("out.jpg").c_str(), 202800), 0);
    EXPECT_GE(image_memory_peak(), scaled);
    EXPECT_LT(image_memory_peak(), 1600u * 1200u * 3u);
    EXPECT_EQ(image_memory_in_use(), 0u);
}

double psnr(const uint8_t* a, const uint8_t* b, size_t size) {
    double squares = 0;
    for (size_t i = 0; i < size; ++i) squares += (a[i] - b[i]) * (a[i] - b[i]);
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(size) / std::max(squares, 1.0));
}

// A copy from the reduced-scale decode has the size rule's size and its file
// size, and comes as close to the full picture's own Lanczos-3 resize as a
// JPEG of that resize at the same file size does, within 1 dB. A portrait
// picture takes the transposed size.
TEST_F(ResizePicture, ScaledDecodeMatchesTheFullScaleReference) {
    const struct {
        int width, height;
        int32_t budget;
        int decodedWidth, copyWidth, copyHeight;
        size_t maxBytes;  // 0.8, 4 and 0.3 bits a pixel
    } cases[] = {{1600, 1200, 202800, 600, 520, 390, 20280},
                 {1000, 750, 30000, 250, 200, 150, 15000},
                 {480, 640, 202800, 420, 390, 520, 7600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const std::string source = picture("in.jpg", c.width, c.height);
        Picture scaled;
        std::string reason;
        ASSERT_EQ(picture_decode_file(source.c_str(), scaled, reason, c.budget), 0);
        EXPECT_EQ(scaled.width, c.decodedWidth);
        sim_write_file(card("out.jpg"), std::string(100000, 'x'));  // replaced
        const size_t maxBytes = c.maxBytes;
        ASSERT_EQ(resize_picture(source.c_str(), card("out.jpg").c_str(), c.budget, {maxBytes, {}}), 0);
        const size_t size = sim_read_file(card("out.jpg")).size();  // the copy is written at its size
        EXPECT_TRUE(size <= maxBytes && size > maxBytes * 8 / 10) << size;
        const Picture full = decode_file(source), copy = decode_file(card("out.jpg"));
        ASSERT_EQ(copy.channels, 3);
        EXPECT_EQ(copy.width, c.copyWidth);
        EXPECT_EQ(copy.height, c.copyHeight);
        EXPECT_EQ(load_exif(card("out.jpg")), nullptr);
        std::vector<uint8_t> reference(static_cast<size_t>(copy.width * copy.height * 3));
        ASSERT_TRUE(resample_pixels(full.pixels.get(), full.width, full.height, 3, reference.data(),
                                    copy.width, copy.height));
        JpegFile same;
        ASSERT_TRUE(picture_encode_jpeg_within(reference.data(), copy.width, copy.height, 3, maxBytes, {}, same));
        sim_write_file(card("same.jpg"), std::string(reinterpret_cast<char*>(same.bytes.get()), same.size));
        const Picture squeezed = decode_file(card("same.jpg"));
        EXPECT_GT(psnr(copy.pixels.get(), reference.data(), reference.size()),
                  psnr(squeezed.pixels.get(), reference.data(), reference.size()) - 1.0);
    }
    EXPECT_EQ(root.log(), "");
}

// Print software's CMYK (Adobe's, stored inverted) comes out as RGB.
TEST_F(ResizePicture, CmykBecomesRgb) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(card("cmyk.jpg").c_str(), "wb"), std::fclose);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file.get());
    info.image_width = info.image_height = 16;
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row;
    for (int x = 0; x < 16; ++x) row.insert(row.end(), {255, 128, 0, 200});
    for (JSAMPROW line = row.data(); info.next_scanline < 16;) jpeg_write_scanlines(&info, &line, 1);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    file.reset();
    const Picture picture = decode_file(card("cmyk.jpg"));
    ASSERT_EQ(picture.channels, 3);
    EXPECT_EQ(std::vector<int>(picture.pixels.get(), picture.pixels.get() + 3), (std::vector<int>{200, 100, 0}));
}

}  // namespace
