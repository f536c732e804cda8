#!/bin/sh
# Installs the Debian packages a command needs, only those missing.
#   deps.sh          the host build and the simulated board (the wake cycle)
#   deps.sh tests    also what only the tests need: the module build's armhf cross
#                    toolchain, qemu-user and :armhf -dev packages, srecord (reads HEX
#                    files independently for the flashing tests) and the real firmware
#                    HEX files arduino-core-avr ships, chromium (the log report's page is
#                    tested in it, headless) and busybox (the update tests run once more with
#                    its tar, gzip, cp ... as a module has them)
#   deps.sh bench    also the peer tools the benchmarks compare against, and chromium
#                    (the log report bench draws its page)
set -e
HOST_PACKAGES="cmake ninja-build g++ pkg-config libcurl4-openssl-dev libjson-c-dev libexif-dev libstb-dev
libjpeg62-turbo-dev libgtest-dev libgmock-dev jpegoptim libcpp-httplib-dev libssl-dev curl"
TEST_PACKAGES="srecord arduino-core-avr chromium busybox
g++-arm-linux-gnueabihf qemu-user libcurl4-openssl-dev:armhf libjson-c-dev:armhf
libexif-dev:armhf libjpeg62-turbo-dev:armhf libgtest-dev:armhf libgmock-dev:armhf libstdc++6:armhf libssl-dev:armhf
libcpp-httplib0.11:armhf zlib1g-dev:armhf libbrotli-dev:armhf"
BENCH_PACKAGES="libvips-tools imagemagick chromium"
APT="apt-get -o DPkg::Lock::Timeout=900"
export DEBIAN_FRONTEND=noninteractive

missing_of() {
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}

# The kernel headers are Multi-Arch: same, so amd64 and armhf must be installed at
# one version; the security archive can be ahead for one of them. Pick the newest
# version both offer.
common_kernel_headers() {
    apt-cache madison linux-libc-dev | awk '{print $3}' >/tmp/qz_headers_native.$$
    apt-cache madison linux-libc-dev:armhf | awk '{print $3}' |
        grep -Fx -f /tmp/qz_headers_native.$$ | head -n 1
    rm -f /tmp/qz_headers_native.$$
}

wanted=$HOST_PACKAGES
case "${1:-}" in
    tests) wanted="$wanted $TEST_PACKAGES" ;;
    bench) wanted="$wanted $BENCH_PACKAGES" ;;
    "") ;;
    *) echo "usage: $0 [tests|bench]" >&2; exit 2 ;;
esac
missing=$(missing_of $wanted)
[ -n "$missing" ] || exit 0
echo "Installing:" $missing
headers=""
if echo "$missing" | grep -q ':armhf'; then
    dpkg --print-foreign-architectures | grep -qx armhf || dpkg --add-architecture armhf
fi
$APT update -qq
if echo "$missing" | grep -q ':armhf'; then
    headers=$(common_kernel_headers)
fi
$APT install -y -qq --allow-downgrades $missing \
    ${headers:+linux-libc-dev=$headers linux-libc-dev:armhf=$headers} >/dev/null
