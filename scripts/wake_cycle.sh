#!/bin/sh
# Builds qz_daemon for the host and runs one wake cycle on the simulated board.
# The board's device root stays in build/host/wake_cycle/ until the next run.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
root=build/host/wake_cycle
rm -rf "$root"
exec build/host/sim/qz_sim "${1:-sim/scenarios/wake_cycle.json}" --root "$root"
