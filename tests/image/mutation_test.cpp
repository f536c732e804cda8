// Damaged camera pictures through the section container and the EXIF date
// reader: truncated, bit-flipped and length-corrupted copies of one small
// camera-like JPEG. Run under the address sanitizer, any read or write out of
// bounds, double free or leak fails the test; the checks below catch a
// container that claims more than the file held or disagrees with itself.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <unistd.h>

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
constexpr int kTruncations = 700;
constexpr int kBitFlips = 2000;
constexpr int kWordStamps = 400;
// Length fields get these values as well as their neighbours.
constexpr uint16_t kLengths[] = {0, 1, 2, 3, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF};
// Every mutant is loaded, read and saved; one in this many also goes through
// a save with a fresh block and the EXIF date operations (file system work
// dominates the run time).
constexpr size_t kFullEvery = 8;

struct Mutant {
    std::string name;
    std::string bytes;
};

JpegSectionsHandle parse(const std::string& bytes) {
    JpegSectionsHandle c(jpeg_sections_from_file(""));
    jpeg_sections_load_bytes(c.get(), reinterpret_cast<const uint8_t*>(bytes.data()),
                             static_cast<uint32_t>(bytes.size()));
    return c;
}

std::string block(const uint8_t* data, uint32_t size) {
    return data == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(data), size);
}

// "" when the container only holds what `length` bytes can hold, else what is wrong.
std::string malformation(const JpegSections* c, size_t length) {
    uint64_t held = c->size;
    if (c->size != 0 && c->data == nullptr) return "image data size without data";
    for (uint32_t i = 0; i < c->count; ++i) {
        const JpegSection& s = c->sections[i];
        if (s.marker < 0xC0 || s.marker > 0xFE) return "marker " + std::to_string(s.marker);
        if ((s.marker == kJpegMarkerSOI || s.marker == kJpegMarkerEOI) &&
            (s.data != nullptr || s.exif != nullptr))
            return "content in SOI or EOI";
        if (s.size != 0 && s.data == nullptr) return "section size without data";
        if (s.exif != nullptr && s.marker != kJpegMarkerAPP1) return "EXIF outside APP1";
        held += s.size;
    }
    if (held > length) return "holds " + std::to_string(held) + " of " + std::to_string(length);
    return "";
}

// "" when both containers hold the same sections and image data.
std::string difference(const JpegSections* a, const JpegSections* b) {
    if (a->count != b->count) return "section count";
    for (uint32_t i = 0; i < a->count; ++i) {
        const JpegSection &x = a->sections[i], &y = b->sections[i];
        if (x.marker != y.marker || block(x.data, x.size) != block(y.data, y.size) ||
            (x.exif == nullptr) != (y.exif == nullptr))
            return "section " + std::to_string(i);
    }
    return block(a->data, a->size) == block(b->data, b->size) ? "" : "image data";
}

// Reads every entry of the loaded block the way a caller would.
void read_all_entries(ExifData* exif) {
    char value[64];
    for (ExifContent* content : exif->ifd)
        for (unsigned i = 0; i < content->count; ++i)
            exif_entry_get_value(content->entries[i], value, sizeof value);
}

class Mutation : public ::testing::Test {
protected:
    std::string card(const std::string& name) const { return root.path("/media/sdcard/" + name); }

    // A small dated camera picture, and where its segment length fields are.
    void SetUp() override {
        g_skipSync = true;
        SimPicture p;
        p.width = 48;
        p.height = 32;
        p.dateTimeOriginal = "2024:05:01 10:30:00";
        ASSERT_EQ(sim_write_picture(card("base.jpg").c_str(), p), 0);
        base = read_bytes(card("base.jpg"));
        for (size_t o = 2; o + 4 <= base.size();) {
            ASSERT_EQ(static_cast<uint8_t>(base[o]), 0xFF);
            lengthFields.push_back(o + 2);
            if (static_cast<uint8_t>(base[o + 1]) == kJpegMarkerSOS) break;
            o += 2 + (static_cast<uint8_t>(base[o + 2]) << 8) + static_cast<uint8_t>(base[o + 3]);
        }
        exifEnd = lengthFields.size() > 1 ? lengthFields[1] - 2 : base.size();
    }

    void TearDown() override { g_skipSync = false; }

    std::vector<Mutant> mutants() {
        std::mt19937 random(kSeed);
        auto below = [&](size_t n) { return static_cast<size_t>(random() % n); };
        std::vector<Mutant> list;
        // Every cut in the headers, then cuts spread over the rest.
        const size_t headers = lengthFields.back() + 16;
        for (size_t cut = 0; cut < headers && list.size() < kTruncations / 2; ++cut)
            list.push_back({"cut at " + std::to_string(cut), base.substr(0, cut)});
        while (list.size() < kTruncations) {
            size_t cut = below(base.size());
            list.push_back({"cut at " + std::to_string(cut), base.substr(0, cut)});
        }
        // Bit flips, mostly where the structure is: the EXIF directories at the
        // front and the JPEG headers after the EXIF block.
        for (int i = 0; i < kBitFlips; ++i) {
            Mutant m{"flips", base};
            const int flips = 1 + static_cast<int>(below(4));
            for (int f = 0; f < flips; ++f) {
                size_t at = i % 4 == 0   ? below(base.size())
                            : i % 4 == 1 ? exifEnd + below(headers - exifEnd)
                                         : below(std::min<size_t>(exifEnd, 600));
                const int bit = static_cast<int>(below(8));
                m.bytes[at] = static_cast<char>(m.bytes[at] ^ (1 << bit));
                m.name += " " + std::to_string(at) + "." + std::to_string(bit);
            }
            list.push_back(m);
        }
        // Whole 16- and 32-bit words in the EXIF directories stamped with
        // extreme values: counts, offsets and sizes that point anywhere.
        for (int i = 0; i < kWordStamps; ++i) {
            Mutant m{"stamp", base};
            const size_t at = 12 + below(std::min<size_t>(exifEnd, 600) - 16);
            const uint32_t value = static_cast<uint32_t>(i % 2 ? 0xFFFFFFFFu - below(16) : below(1u << 16));
            const size_t width = i % 3 == 0 ? 4 : 2;
            for (size_t b = 0; b < width; ++b)
                m.bytes[at + b] = static_cast<char>(value >> (8 * b));
            m.name += " " + std::to_string(at) + "=" + std::to_string(value);
            list.push_back(m);
        }
        // Every segment length field set to each extreme and to its neighbours.
        for (size_t field : lengthFields) {
            const uint16_t real = static_cast<uint16_t>((static_cast<uint8_t>(base[field]) << 8) |
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

    // "" when the mutant went through every step consistently, else what went
    // wrong. `full`: also saved with a fresh block and through the date operations.
    std::string exercise(const Mutant& m, bool full) {
        JpegSectionsHandle fromBytes = parse(m.bytes);
        if (std::string bad = malformation(fromBytes.get(), m.bytes.size()); !bad.empty())
            return bad;

        write_bytes(card("in.jpg"), m.bytes);
        JpegSectionsHandle fromFile(jpeg_sections_from_file(card("in.jpg").c_str()));
        if (std::string bad = difference(fromBytes.get(), fromFile.get()); !bad.empty())
            return "from file: " + bad;

        ExifHandle exif(jpeg_sections_get_exif(fromBytes.get()));
        if (exif) read_all_entries(exif.get());
        const int32_t taken = exif_picture_time(card("in.jpg").c_str());
        if (!exif && taken != 0) return "a date without an EXIF block";

        const uint32_t count = fromFile->count;
        const bool hadExif = exif != nullptr;
        jpeg_sections_set_exif(fromFile.get(), fresh.get());
        const uint32_t grown = count == 0 || hadExif ? count : count + 1;
        if (fromFile->count != grown) return "set_exif left " + std::to_string(fromFile->count);
        if (count > 0 && !hadExif && fromFile->sections[1].exif != fresh.get())
            return "new EXIF section not second";

        // The loaded, possibly damaged block is serialised again on saving.
        if (std::string bad = save(fromBytes.get()); !bad.empty() || !full) return bad;
        if (std::string bad = save(fromFile.get()); !bad.empty()) return "with a fresh block: " + bad;
        write_bytes(card("copy.jpg"), base);
        exif_copy_date(card("in.jpg").c_str(), card("copy.jpg").c_str());
        exif_correct_date(card("in.jpg").c_str(), card("copy.jpg").c_str(), -90);
        return "";
    }

    // "" when the container was saved exactly when it held something.
    std::string save(JpegSections* c) const {
        const int saved = jpeg_sections_save_file(c, card("out.jpg").c_str());
        if (saved != (c->count > 0 ? 1 : 0)) return "save gave " + std::to_string(saved);
        if (root.exists("/media/sdcard/out.jpg") != (saved == 1)) return "save result and file disagree";
        std::remove(card("out.jpg").c_str());
        return "";
    }

    TestRoot root;
    ScopedTimeZone utc{"UTC0"};
    std::string base;
    std::vector<size_t> lengthFields;  // offsets of the two length bytes, SOS last
    size_t exifEnd = 0;
    ExifHandle fresh{exif_data_new()};
};

TEST_F(Mutation, DamagedPicturesAreHandledSafely) {
    ASSERT_GE(lengthFields.size(), 5u);  // APP1, APP0, DQT, SOF, DHT ... SOS
    const std::vector<Mutant> list = mutants();
    ASSERT_GT(list.size(), 3000u);
    int failures = 0;
    for (size_t i = 0; i < list.size() && failures < 5; ++i) {
        std::string problem = exercise(list[i], i % kFullEvery == 0);
        if (!problem.empty()) {
            ++failures;
            ADD_FAILURE() << list[i].name << ": " << problem;
        }
    }
}

TEST_F(Mutation, UndamagedBaseKeepsItsDate) {
    // The checks above mean something only if the base itself goes through.
    write_bytes(card("in.jpg"), base);
    EXPECT_EQ(exif_picture_time(card("in.jpg").c_str()), 1714559400);
    EXPECT_EQ(exercise({"base", base}, true), "");
}

}  // namespace
