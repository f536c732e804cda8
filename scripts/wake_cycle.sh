#!/bin/sh
# Builds qz_daemon for the host and runs one wake cycle on the simulated board.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
exec build/host/sim/qz_sim "${1:-sim/scenarios/wake_cycle.json}"
