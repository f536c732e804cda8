#pragma once
#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/x509.h>

// The cloud emulator's certificates, made with OpenSSL at start: a CA, and a
// server certificate for "localhost" and 127.0.0.1.

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

struct ServerIdentity {
    X509Ptr cert;
    KeyPtr key;
    std::string trustedCaPem;  // the CA the device is given
};

// With `foreignCa` the server certificate is signed by a second CA that the
// device is never given. False when OpenSSL fails.
bool cloud_make_identity(bool foreignCa, ServerIdentity& identity);
