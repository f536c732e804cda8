#pragma once
#include <string>
#include <vector>

// Checks on the update package (real paths) made before anything of it is
// read for installing. Each gives the reason the package is refused, empty
// when it passes.

// The package must carry a valid Ed25519 signature made with the key's
// private half: `signature` holds the raw 64-byte signature of the whole
// package file, `key` the public key in PEM.
std::string package_signature_refusal(const std::string& package, const std::string& signature, const std::string& key);

// The package is read through once: the gzip stream must be whole (no cut,
// no CRC error) and hold a whole tar archive whose members are only regular
// files and folders with relative names free of ".." parts. The names in
// `filesOnly` (top-level names) must be regular files, not folders.
std::string package_content_refusal(const std::string& package, const std::vector<std::string>& filesOnly);
