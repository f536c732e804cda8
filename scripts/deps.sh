#!/bin/sh
# Installs the Debian packages the build, the simulated board and the tests need.
# srecord reads HEX files independently for the flashing tests, which also
# flash real firmware HEX files that arduino-core-avr ships.
set -e
PACKAGES="cmake ninja-build g++ pkg-config libcurl4-openssl-dev libjson-c-dev libexif-dev libstb-dev
libgtest-dev libgmock-dev jpegoptim libcpp-httplib-dev libssl-dev curl
srecord arduino-core-avr"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq $missing >/dev/null
fi
