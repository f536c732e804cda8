#include "sim/cloud_certs.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <initializer_list>
#include <utility>

namespace {

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};

constexpr long kDay = 24 * 60 * 60;

KeyPtr new_key() { return KeyPtr(EVP_EC_gen("P-256")); }

bool add_extensions(X509* cert, X509* issuer,
                    std::initializer_list<std::pair<int, const char*>> extensions) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        if (extension == nullptr) return false;
        int added = X509_add_ext(cert, extension, -1);
        X509_EXTENSION_free(extension);
        if (added != 1) return false;
    }
    return true;
}

// A certificate for `key` named `commonName`; issued by itself when `issuer` is null.
X509Ptr new_certificate(EVP_PKEY* key, const char* commonName, X509* issuer) {
    X509Ptr cert(X509_new());
    uint64_t serial = 0;
    if (!cert || RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1) return nullptr;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), serial >> 1);
    // A day of slack either way: the device's clock is not the host's to trust.
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -kDay);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30 * kDay);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("qz_cloud emulator"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    return cert;
}

struct Authority {
    KeyPtr key;
    X509Ptr cert;
};

bool make_authority(const char* commonName, Authority& ca) {
    ca.key = new_key();
    if (!ca.key) return false;
    ca.cert = new_certificate(ca.key.get(), commonName, nullptr);
    return ca.cert &&
           add_extensions(ca.cert.get(), ca.cert.get(),
                          {{NID_basic_constraints, "critical,CA:TRUE"},
                           {NID_key_usage, "critical,keyCertSign,cRLSign"},
                           {NID_subject_key_identifier, "hash"}}) &&
           X509_sign(ca.cert.get(), ca.key.get(), EVP_sha256()) > 0;
}

std::string pem_of(X509* cert) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1) return {};
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

}  // namespace

bool cloud_make_identity(bool foreignCa, ServerIdentity& identity) {
    Authority trusted, foreign;
    if (!make_authority("qz_cloud test CA", trusted)) return false;
    if (foreignCa && !make_authority("qz_cloud foreign CA", foreign)) return false;
    const Authority& issuer = foreignCa ? foreign : trusted;

    identity.key = new_key();
    if (!identity.key) return false;
    identity.cert = new_certificate(identity.key.get(), "localhost", issuer.cert.get());
    if (!identity.cert ||
        !add_extensions(identity.cert.get(), issuer.cert.get(),
                        {{NID_basic_constraints, "critical,CA:FALSE"},
                         {NID_key_usage, "critical,digitalSignature"},
                         {NID_ext_key_usage, "serverAuth"},
                         {NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1"},
                         {NID_subject_key_identifier, "hash"},
                         {NID_authority_key_identifier, "keyid:always"}}) ||
        X509_sign(identity.cert.get(), issuer.key.get(), EVP_sha256()) <= 0)
        return false;
    identity.trustedCaPem = pem_of(trusted.cert.get());
    return !identity.trustedCaPem.empty();
}
