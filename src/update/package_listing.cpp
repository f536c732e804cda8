#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "update/package_check.h"
#include "core/run_command.h"

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kNameField = 0, kNameWidth = 100;
constexpr size_t kSizeField = 124, kSizeWidth = 12;
constexpr size_t kSumField = 148, kSumWidth = 8;
constexpr size_t kTypeField = 156;
constexpr size_t kMagicField = 257;
constexpr size_t kPrefixField = 345, kPrefixWidth = 155;
constexpr char kPosixMagic[] = "ustar";  // with its terminating zero: six bytes

bool all_zero(const unsigned char* block) {
    return std::all_of(block, block + kBlock, [](unsigned char byte) { return byte == 0; });
}

// An octal number, space or zero padded; false for anything else (tar's
// base-256 form included: no package member is that large).
bool octal_field(const unsigned char* field, size_t width, uint64_t& value) {
    size_t at = 0;
    while (at < width && field[at] == ' ') ++at;
    const size_t first = at;
    value = 0;
    for (; at < width && field[at] >= '0' && field[at] <= '7'; ++at) value = value << 3 | (field[at] - '0');
    if (at == first) return false;
    return std::all_of(field + at, field + width, [](unsigned char c) { return c == ' ' || c == 0; });
}

std::string text_field(const unsigned char* field, size_t width) {
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, width));
}

// The header's checksum: the sum of its bytes with the checksum field as spaces.
uint64_t header_sum(const unsigned char* block) {
    uint64_t sum = ' ' * kSumWidth;
    for (size_t i = 0; i < kBlock; ++i)
        if (i < kSumField || i >= kSumField + kSumWidth) sum += block[i];
    return sum;
}

// The parts of a name between its slashes, without empty and "." parts.
std::vector<std::string> name_parts(const std::string& name) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= name.size();) {
        const size_t end = std::min(name.find('/', start), name.size());
        std::string part = name.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    return parts;
}

bool has_parent_part(const std::string& name) {
    const std::vector<std::string> parts = name_parts(name);
    return std::find(parts.begin(), parts.end(), "..") != parts.end();
}

// Follows a tar stream block by block. The headers are read here rather than
// from a verbose tar listing: listings differ between tars, and one that
// prints names raw lets a crafted name pass for another line. Extension
// headers (long names, pax records) are refused with the other types, so the
// names judged here are the names any tar extracts. Name and prefix are
// judged each on its own, so that a tar that reads the prefix and one that
// ignores it would both write only inside the folder.
class ArchiveWalk {
public:
    explicit ArchiveWalk(const PackageRules& rules) : rules_(rules) {}

    // Takes the next bytes of the stream; false once the archive is refused.
    bool take(const char* bytes, size_t count) {
        while (count > 0 && why_.empty()) {
            const size_t part = std::min(count, kBlock - filled_);
            std::memcpy(block_ + filled_, bytes, part);
            filled_ += part;
            bytes += part;
            count -= part;
            if (filled_ == kBlock) {
                filled_ = 0;
                next_block();
            }
        }
        return why_.empty();
    }
    const std::string& refusal() const { return why_; }
    // The stream ended with the archive's end and nothing of a member missing.
    bool whole() const { return ended_ && filled_ == 0 && dataBlocks_ == 0; }

private:
    void next_block() {
        if (dataBlocks_ > 0)
            take_data();
        else if (ended_)
            why_ = all_zero(block_) ? "" : "the package holds data after the archive's end";
        else if (all_zero(block_))
            ended_ = true;
        else
            judge_header();
    }

    void take_data() {
        --dataBlocks_;
        if (!keyMember_) return;
        const size_t part = dataLeft_ < kBlock ? static_cast<size_t>(dataLeft_) : kBlock;
        key_.append(reinterpret_cast<const char*>(block_), part);
        dataLeft_ -= part;
        if (dataBlocks_ == 0) judge_key();
    }

    void judge_header() {
        uint64_t stored = 0, size = 0;
        if (!octal_field(block_ + kSumField, kSumWidth, stored) || stored != header_sum(block_) ||
            !octal_field(block_ + kSizeField, kSizeWidth, size)) {
            why_ = "a member header is damaged";
            return;
        }
        const std::string name = text_field(block_ + kNameField, kNameWidth);
        const std::string prefix = text_field(block_ + kPrefixField, kPrefixWidth);
        const bool posix = std::memcmp(block_ + kMagicField, kPosixMagic, sizeof kPosixMagic) == 0;
        const std::string shown = posix && !prefix.empty() ? prefix + "/" + name : name;
        const char type = static_cast<char>(block_[kTypeField]);
        const bool folder = type == '5';
        if (!folder && type != '0' && type != '\0')
            why_ = "member " + shown + " is not a regular file or folder";
        else if (folder && size != 0)
            why_ = "member " + shown + " is a folder with data";
        else if (name.empty() || name[0] == '/' || prefix[0] == '/')
            why_ = "member " + shown + " has no relative name";
        else if (has_parent_part(name) || has_parent_part(prefix))
            why_ = "member " + shown + " has a \"..\" part";
        else if (!folder && shown.back() == '/')
            // tar makes a folder of it and reads its data as the next header.
            why_ = "member " + shown + " is a file named like a folder";
        else if (folder_in_place_of_file(shown, folder))
            why_ = "member " + shown + " is not a regular file";
        else if ((total_ += size) > rules_.room)
            why_ = "its files need " + std::to_string(total_) + " bytes, /usrdata/ has room for " +
                   std::to_string(rules_.room);
        dataBlocks_ = (size + kBlock - 1) / kBlock;
        start_key(shown, folder, size);
    }

    // A key member is kept whole (it is small) to be judged at its end.
    void start_key(const std::string& name, bool folder, uint64_t size) {
        const std::vector<std::string> parts = name_parts(name);
        keyMember_ = !folder && parts.size() == 1 && parts[0] == rules_.keyMember;
        if (!keyMember_) return;
        key_.clear();
        dataLeft_ = size;
        if (size > kKeyLimit)
            why_ = "member " + rules_.keyMember + " is too large for a key";
        else if (size == 0)
            judge_key();
    }

    void judge_key() {
        if (!ed25519_public_key_pem(key_)) why_ = "member " + rules_.keyMember + " is not an Ed25519 public key in PEM";
    }

    // A folder, or a member inside one, where a regular file must be.
    bool folder_in_place_of_file(const std::string& name, bool folder) const {
        const std::vector<std::string> parts = name_parts(name);
        return !parts.empty() && (folder || parts.size() > 1) &&
               std::find(rules_.filesOnly.begin(), rules_.filesOnly.end(), parts[0]) != rules_.filesOnly.end();
    }

    static constexpr uint64_t kKeyLimit = 16384;
    const PackageRules& rules_;
    unsigned char block_[kBlock] = {};
    size_t filled_ = 0;
    uint64_t dataBlocks_ = 0;
    uint64_t total_ = 0;
    bool ended_ = false;
    bool keyMember_ = false;
    uint64_t dataLeft_ = 0;
    std::string key_;
    std::string why_;
};

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

}  // namespace

std::string package_content_refusal(const std::string& package, const PackageRules& rules) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return "the package cannot be read";
    Descriptor reading(ends[0]), writing(ends[1]);
    const char* const argv[] = {"gzip", "-dc", package.c_str(), nullptr};
    const pid_t gzip = program_start(argv, writing.get());
    writing.reset();
    ArchiveWalk walk(rules);
    char piece[16384];
    for (;;) {
        const ssize_t count = read(reading.get(), piece, sizeof piece);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0 || !walk.take(piece, static_cast<size_t>(count))) break;
    }
    // A refused member ends the reading: gzip then stops on the closed pipe.
    reading.reset();
    const int status = program_wait(gzip);
    if (!walk.refusal().empty()) return walk.refusal();
    if (status != 0) return "gzip finds it damaged (status " + std::to_string(status) + ")";
    if (!walk.whole()) return "the archive is cut short";
    return "";
}
