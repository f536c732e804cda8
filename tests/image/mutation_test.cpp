// Damaged camera pictures through the section container and the EXIF date
// operations: truncated, bit-flipped and length-corrupted copies of one small
// camera-like JPEG. Under the address sanitizer any read or write out of
// bounds, double free or leak fails the test; the checks below catch a
// container that holds more than the file did, and a camera file that a date
// operation shortened or grew.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "image_helper.h"
#include "jpeg_sections.h"
#include "pictures.h"
#include "test_files.h"
#include "test_root.h"

// Linked with --wrap=fsync: thousands of saves need not each wait for the
// disk; what is saved, and how, stays the same.
static bool g_skipSync = false;
extern "C" int __real_fsync(int fd);
extern "C" int __wrap_fsync(int fd) { return g_skipSync ? 0 : __real_fsync(fd); }

namespace {

// Fixed, so that a failure names a mutant that can be made again.
constexpr uint32_t kSeed = 20240501;
constexpr int kTruncations = 600;
constexpr int kBitFlips = 2000;
// Length fields get these values as well as their neighbours.
constexpr uint16_t kLengths[] = {0, 1, 2, 3, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF};
// One mutant in this many also goes through the date operations (file system
// work dominates the run time).
constexpr size_t kDatedEvery = 8;

struct Mutant {
    std::string name;
    std::string bytes;
};

class Mutation : public ::testing::Test {
protected:
    std::string card(const std::string& name) const { return root.path("/media/sdcard/" + name); }

    void SetUp() override {
        g_skipSync = true;
        SimPicture p;
        p.width = 48;
        p.height = 32;
        p.dateTimeOriginal = "2024:05:01 10:30:00";
        ASSERT_EQ(sim_write_picture(card("base.jpg").c_str(), p), 0);
        base = sim_read_file(card("base.jpg"));
        for (size_t o = 2; o + 4 <= base.size() && static_cast<uint8_t>(base[o + 1]) != 0xDA;)
            o += 2 + (lengthFields.emplace_back(o + 2), (static_cast<uint8_t>(base[o + 2]) << 8) +
                                                            static_cast<uint8_t>(base[o + 3]));
    }
    void TearDown() override { g_skipSync = false; }

    std::vector<Mutant> mutants() const {
        std::mt19937 random(kSeed);
        auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
        std::vector<Mutant> list;
        // Every cut in the headers, then cuts spread over the rest.
        const size_t headers = lengthFields.back() + 16;
        for (size_t cut = 0; cut < kTruncations; ++cut) {
            const size_t at = cut < headers ? cut : below(base.size());
            list.push_back({"cut at " + std::to_string(at), base.substr(0, at)});
        }
        // Bit flips, mostly where the structure is: the EXIF directories at the
        // front (counts, offsets, sizes) and the JPEG headers.
        for (int i = 0; i < kBitFlips; ++i) {
            Mutant m{"flips", base};
            for (int f = 0, flips = 1 + static_cast<int>(below(4)); f < flips; ++f) {
                const size_t at = below(i % 3 == 0 ? base.size() : i % 3 == 1 ? headers : 600);
                const int bit = static_cast<int>(below(8));
                m.bytes[at] = static_cast<char>(m.bytes[at] ^ (1 << bit));
                m.name += " " + std::to_string(at) + "." + std::to_string(bit);
            }
            list.push_back(m);
        }
        // Every segment length field set to each extreme and to its neighbours.
        for (size_t field : lengthFields) {
            const auto real = static_cast<uint16_t>((static_cast<uint8_t>(base[field]) << 8) |
                                                    static_cast<uint8_t>(base[field + 1]));
            std::vector<uint16_t> values(std::begin(kLengths), std::end(kLengths));
            values.insert(values.end(), {static_cast<uint16_t>(real - 1), static_cast<uint16_t>(real + 1)});
            for (uint16_t value : values) {
                Mutant m{"length at " + std::to_string(field) + " = " + std::to_string(value), base};
                m.bytes[field] = static_cast<char>(value >> 8);
                m.bytes[field + 1] = static_cast<char>(value & 0xFF);
                list.push_back(m);
            }
        }
        return list;
    }

    // "" when the mutant went through every step consistently, else what went wrong.
    std::string exercise(const Mutant& m, bool dated) const {
        sim_write_file(card("in.jpg"), m.bytes);
        JpegSectionsHandle c(jpeg_sections_from_file(card("in.jpg").c_str()));
        uint64_t held = c->size;
        for (uint32_t i = 0; i < c->count; ++i) held += c->sections[i].size;
        if (held > m.bytes.size()) return "holds " + std::to_string(held) + " bytes";
        ExifHandle exif(jpeg_sections_get_exif(c.get()));
        if (!exif && exif_picture_time(card("in.jpg").c_str()) != 0) return "a date without EXIF";
        if (jpeg_sections_save_file(c.get(), card("out.jpg").c_str()) == 1 && c->count == 0)
            return "saved an empty container";
        if (!dated) return "";

        sim_write_file(card("copy.jpg"), base);
        exif_copy_date(card("in.jpg").c_str(), card("copy.jpg").c_str());
        exif_correct_date(card("in.jpg").c_str(), card("copy.jpg").c_str(), -90);
        // The camera's file may take a new date, but never lose or gain a byte.
        if (sim_read_file(card("in.jpg")).size() != m.bytes.size()) return "the camera's file changed size";
        return "";
    }

    TestRoot root;
    ScopedTimeZone utc{"UTC0"};
    std::string base;
    std::vector<size_t> lengthFields;  // offsets of the length bytes of each segment before SOS
};

TEST_F(Mutation, DamagedPicturesAreHandledSafely) {
    ASSERT_GE(lengthFields.size(), 5u);  // APP1, APP0, DQT, SOF, DHT
    // The checks mean something only if the base itself goes through.
    sim_write_file(card("in.jpg"), base);
    ASSERT_EQ(exif_picture_time(card("in.jpg").c_str()), 1714559400);
    ASSERT_EQ(exercise({"base", base}, true), "");
    const std::vector<Mutant> list = mutants();
    int failures = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        std::string problem = exercise(list[i], i % kDatedEvery == 0);
        if (!problem.empty()) ADD_FAILURE() << list[i].name << ": " << problem;
        if (!problem.empty() && ++failures == 5) break;
    }
}

}  // namespace
