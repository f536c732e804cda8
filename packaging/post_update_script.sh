#!/bin/sh
# Run by the daemon's update check after it extracted the package over the
# folder of this script. Puts the new daemon in place in one rename, so that a
# power cut leaves either the old daemon or the new one; the new one runs after
# the reboot that follows the update.
set -e
cd "$(dirname "$0")"
[ -f qz_daemon.new ] || exit 0
chmod 755 qz_daemon.new
sync
mv -f qz_daemon.new qz_daemon
sync
