#!/bin/sh
# The update package, read with tar as the update check reads it, then
# installed over a folder holding an old daemon as the check would.
# Arguments: the package and the header that holds the daemon's version.
set -eu
package=$1
version=$(sed -n 's/.*kDaemonVersion = \([0-9]*\);.*/\1/p' "$2")
fail() { echo "FAIL: $*"; exit 1; }

members=$(tar -tzf "$package" | sort | tr '\n' ' ')
[ "$members" = "manifest.json post_update_script.sh qz_daemon.new " ] || fail "members: $members"

manifest=$(tar -Oxzf "$package" manifest.json)
[ "$(printf '%s\n' "$manifest" | wc -l)" -eq 1 ] || fail "manifest is not one line"
[ "$manifest" = "{\"modem\": {\"version\": $version}}" ] || fail "manifest: $manifest"

usrdata=$(mktemp -d)
trap 'rm -rf "$usrdata"' EXIT
echo old > "$usrdata/qz_daemon"
tar -C "$usrdata" -xf "$package"
readelf -h "$usrdata/qz_daemon.new" | grep -q "Machine:.*ARM" || fail "daemon is not an ARM program"
readelf -S "$usrdata/qz_daemon.new" | grep -q "\.symtab" && fail "daemon is not stripped"
cp "$usrdata/qz_daemon.new" "$usrdata/expected"
script="$usrdata/post_update_script.sh"
(cd / && sh -c "chmod +x $script && $script") || fail "post-update script failed"
cmp -s "$usrdata/qz_daemon" "$usrdata/expected" || fail "daemon not put in place"
[ -x "$usrdata/qz_daemon" ] && [ ! -e "$usrdata/qz_daemon.new" ] || fail "daemon not executable or left twice"
echo "update package: $members"
