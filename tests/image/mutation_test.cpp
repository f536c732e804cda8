// Damaged camera pictures through the section container and the EXIF date
// operations: truncated and bit-flipped copies of one small camera-like JPEG.
// Under the address sanitizer any read or write out of bounds, double free or
// leak fails the test; the checks below catch a container that holds more than
// the file did, and a camera file that a date operation shortened or grew.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "image/image_helper.h"
#include "image/jpeg_sections.h"
#include "tests/image/test_files.h"
#include "tests/support/test_root.h"

// Linked with --wrap=fsync: thousands of saves need not each wait for the
// disk; what is saved, and how, stays the same.
static bool g_skipSync = false;
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) { return g_skipSync ? 0 : __real_fsync(fd); }

namespace {

// Fixed, so that a failure names a mutant that can be made again.
constexpr uint32_t kSeed = 20240501;
constexpr int kTruncations = 1200;  // more than the test picture's headers
constexpr int kBitFlips = 2000;
// One mutant in this many also goes through the date operations (file system
// work dominates the run time).
constexpr int kDatedEvery = 8;

class Mutation : public ::testing::Test {
protected:
    void SetUp() override { g_skipSync = true; }
    void TearDown() override { g_skipSync = false; }

    std::string card(const std::string& name) const { return root.path("/media/sdcard/" + name); }

    // "" when the mutant went through every step consistently, else what went wrong.
    std::string exercise(const std::string& bytes, bool dated) const {
        sim_write_file(card("in.jpg"), bytes);
        JpegSectionsHandle c(jpeg_sections_from_file(card("in.jpg").c_str()));
        uint64_t held = c->size;
        for (uint32_t i = 0; i < c->count; ++i) held += c->sections[i].size;
        if (held > bytes.size()) return "holds " + std::to_string(held) + " bytes";
        ExifHandle exif(jpeg_sections_get_exif(c.get()));
        if (!exif && exif_picture_time(card("in.jpg").c_str()) != 0) return "a date without EXIF";
        if (jpeg_sections_save_file(c.get(), card("out.jpg").c_str()) == 1 && c->count == 0)
            return "saved an empty container";
        if (!dated) return "";

        sim_write_file(card("copy.jpg"), base);
        exif_copy_date(card("in.jpg").c_str(), card("copy.jpg").c_str());
        exif_correct_date(card("in.jpg").c_str(), card("copy.jpg").c_str(), -90);
        // The camera's file may take a new date, but never lose or gain a byte.
        if (sim_read_file(card("in.jpg")).size() != bytes.size())
            return "the camera's file changed size";
        return "";
    }

    TestRoot root;
    ScopedTimeZone utc{"UTC0"};
    std::string base;
};

TEST_F(Mutation, DamagedPicturesAreHandledSafely) {
    ASSERT_TRUE(write_camera_picture(card("base.jpg"), 48, 32));
    base = sim_read_file(card("base.jpg"));
    // The checks mean something only if the base itself goes through.
    ASSERT_EQ(exif_picture_time(card("base.jpg").c_str()), 1714559400);
    ASSERT_EQ(exercise(base, true), "");
    const size_t headers = base.find("\xFF\xDA");
    std::mt19937 random(kSeed);
    auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
    int failures = 0;
    for (int i = 0; i < kTruncations + kBitFlips && failures < 5; ++i) {
        std::string name, bytes = base;
        if (i < kTruncations) {
            // Every cut in the headers, then cuts spread over the rest.
            const size_t cut = static_cast<size_t>(i);
            const size_t at = cut < headers ? cut : below(base.size());
            name = "cut at " + std::to_string(at);
            bytes.resize(at);
        } else {
            // Bit flips, mostly where the structure is: the EXIF directories at
            // the front (counts, offsets, sizes) and the JPEG headers.
            const int flips = 1 + static_cast<int>(below(4));
            for (int f = 0; f < flips; ++f) {
                const size_t at = below(i % 3 == 0 ? base.size() : i % 3 == 1 ? headers : 600);
                const int bit = static_cast<int>(below(8));
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
                name += " flip " + std::to_string(at) + "." + std::to_string(bit);
            }
        }
        const std::string problem = exercise(bytes, i % kDatedEvery == 0);
        if (problem.empty()) continue;
        ADD_FAILURE() << name << ": " << problem;
        ++failures;
    }
}

}  // namespace
