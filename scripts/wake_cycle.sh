#!/bin/sh
# Builds qz_daemon for the host, runs one wake cycle on the simulated board and
# ends with the report of the event log that wake wrote.
set -e
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
root=$(mktemp -d /tmp/qz_wake_XXXXXX)
status=0
build/host/sim/qz_sim "${1:-sim/scenarios/wake_cycle.json}" --root "$root" || status=$?
echo
echo "== The wake in its event log (build/host/qz_logreport media/sdcard/log.txt)"
build/host/qz_logreport "$root/media/sdcard/log.txt" || true
if [ "$status" -eq 0 ] && [ -z "${QZ_SIM_KEEP_ROOT:-}" ]; then
    rm -rf "$root"
else
    echo "Device root kept: $root"
fi
exit "$status"
