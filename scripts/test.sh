#!/bin/sh
# Builds and runs every test: the host build, then under AddressSanitizer and
# ThreadSanitizer, then the module's ARM build under qemu-user. Set
# QZ_TEST_PRESETS to run fewer (for example "host").
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh tests
for preset in ${QZ_TEST_PRESETS:-host asan tsan armhf}; do
    echo "=== $preset"
    start=$(date +%s)
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset" -j2
    echo "=== $preset: $(($(date +%s) - start)) s"
done
