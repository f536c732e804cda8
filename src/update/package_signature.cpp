#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

#include "core/clock_helpers.h"
#include "update/package_check.h"

namespace {

constexpr size_t kSignatureSize = 64;
constexpr size_t kKeyFileLimit = 16384;

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

// A regular file mapped for reading, so that a package of several MiB is
// verified without a copy on the heap.
class MappedFile {
public:
    explicit MappedFile(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        struct stat info {};
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0 &&
            static_cast<uint64_t>(info.st_size) <= SIZE_MAX) {
            const size_t size = static_cast<size_t>(info.st_size);
            void* bytes = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (bytes != MAP_FAILED) {
                bytes_ = static_cast<const unsigned char*>(bytes);
                size_ = size;
            }
        }
        close(fd);
    }
    ~MappedFile() {
        if (bytes_ != nullptr) munmap(const_cast<unsigned char*>(bytes_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* bytes() const { return bytes_; }
    size_t size() const { return size_; }

private:
    const unsigned char* bytes_ = nullptr;
    size_t size_ = 0;
};

KeyPtr public_key_of(const std::string& pem) {
    if (pem.size() > kKeyFileLimit) return nullptr;
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return nullptr;
    KeyPtr key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) return nullptr;
    return key;
}

KeyPtr read_public_key(const std::string& path) {
    std::string pem;
    if (!read_regular_file(path.c_str(), kKeyFileLimit, pem)) return nullptr;
    return public_key_of(pem);
}

const char* signature_refusal(const std::string& package, const std::string& signature, const std::string& keyPath) {
    const KeyPtr key = read_public_key(keyPath);
    if (!key) return "the update key is not an Ed25519 public key in PEM";
    std::string bytes;
    if (!read_regular_file(signature.c_str(), kSignatureSize + 1, bytes)) return "no signature";
    if (bytes.size() != kSignatureSize) return "the signature is not 64 bytes long";
    const MappedFile file(package);
    if (file.bytes() == nullptr) return "the package cannot be read";
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    // Ed25519 signs the message itself: no digest is named, and the whole file goes in one call.
    const bool valid = context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
                       EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                        bytes.size(), file.bytes(), file.size()) == 1;
    return valid ? "" : "the signature does not match";
}

}  // namespace

std::string package_signature_refusal(const std::string& package, const std::string& signature,
                                      const std::string& key) {
    std::string why = signature_refusal(package, signature, key);
    // Failures leave entries in this thread's OpenSSL error queue; nobody else reads them.
    ERR_clear_error();
    return why;
}

bool ed25519_public_key_pem(const std::string& pem) {
    const bool valid = public_key_of(pem) != nullptr;
    ERR_clear_error();
    return valid;
}
