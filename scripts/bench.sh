#!/bin/sh
# Builds and runs the benchmarks (not part of the test suite). The peer tools
# they compare against come from Debian's packages.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh bench
cmake --preset host >/dev/null
cmake --build --preset host
build/host/bench/resize_bench
build/host/bench/process_bench 20
build/host/bench/bring_up_bench
build/host/bench/sync_bench 20
build/host/bench/sync_bench 20 7 50
build/host/bench/hostile_service
build/host/bench/logreport_bench
