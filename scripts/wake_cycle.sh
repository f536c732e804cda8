#!/bin/sh
# Builds qz_daemon for the host, runs one wake cycle on the simulated board and
# ends with the report of the event log that wake wrote. The board's device root
# stays in build/host/wake_cycle/ until the next run.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
root=build/host/wake_cycle
rm -rf "$root"
status=0
build/host/sim/qz_sim "${1:-sim/scenarios/wake_cycle.json}" --root "$root" || status=$?
echo
echo "== The wake in its event log (build/host/qz_logreport $root/media/sdcard/log.txt)"
build/host/qz_logreport "$root/media/sdcard/log.txt" || true
exit "$status"
