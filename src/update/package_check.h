#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Checks on the update package (real paths) made before anything of it is
// read for installing. Each gives the reason the package is refused, empty
// when it passes.

// The package must carry a valid Ed25519 signature made with the key's
// private half: `signature` holds the raw 64-byte signature of the whole
// package file, `key` the public key in PEM.
std::string package_signature_refusal(const std::string& package, const std::string& signature, const std::string& key);

// Whether the text is an Ed25519 public key in PEM.
bool ed25519_public_key_pem(const std::string& pem);

// What the members of a package must be.
struct PackageRules {
    std::vector<std::string> filesOnly;  // top-level names that must be regular files, not folders
    std::string keyMember;               // a top-level member that must be an Ed25519 public key in PEM
    uint64_t room = UINT64_MAX;          // bytes the regular files may take in all
};

// The package is read through once: the gzip stream must be whole (no cut,
// no CRC error) and hold a whole tar archive whose members are only regular
// files and folders with relative names free of ".." parts, judged as tar
// extracts them (a regular file whose name ends in "/" becomes a folder), and
// following the rules.
std::string package_content_refusal(const std::string& package, const PackageRules& rules);
