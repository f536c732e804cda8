#!/bin/sh
# Installs the Debian packages the build, the simulated board and the tests need:
# the host's, then the module build's (armhf cross toolchain, qemu-user, :armhf -dev).
# srecord reads HEX files independently for the flashing tests, which also
# flash real firmware HEX files that arduino-core-avr ships.
set -e
PACKAGES="cmake ninja-build g++ pkg-config libcurl4-openssl-dev libjson-c-dev libexif-dev libstb-dev
libgtest-dev libgmock-dev jpegoptim libcpp-httplib-dev libssl-dev curl
srecord arduino-core-avr"
ARMHF_PACKAGES="g++-arm-linux-gnueabihf qemu-user libcurl4-openssl-dev:armhf libjson-c-dev:armhf
libexif-dev:armhf libgtest-dev:armhf libgmock-dev:armhf libstdc++6:armhf libssl-dev:armhf
libcpp-httplib0.11:armhf zlib1g-dev:armhf libbrotli-dev:armhf"
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

missing=$(missing_of $PACKAGES $ARMHF_PACKAGES)
if [ -n "$missing" ]; then
    echo "Installing:" $missing
    dpkg --print-foreign-architectures | grep -qx armhf || dpkg --add-architecture armhf
    $APT update -qq
    headers=$(common_kernel_headers)
    $APT install -y -qq --allow-downgrades $missing \
        ${headers:+linux-libc-dev=$headers linux-libc-dev:armhf=$headers} >/dev/null
fi
