#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine (as root), builds the project and runs the
# update wizard's main job on the bundled demo: a local nginx serves the demo update set
# (resources/demo/server/ with the new release of the demo application), and build/demo/ is
# the application folder with the old release (Main.exe, plugins/Report.dll, an old
# data/Templates.dat), a copy of the wizard and an update.svr that names the server. The
# wizard updates the folder: in a window when a display is present, otherwise unattended
# (--auto, a picture of each page). The versions are shown before and after; the script
# fails when the unattended run does.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" \
  --target updtool update-wizard update_screenshots demo_programs

tool=build/tools/updtool/updtool
releases=build/tools/demo  # old/ and new/ (tools/demo/CMakeLists.txt)

# The demo server: nginx on a free port of 127.0.0.1, stopped when the script ends. Its
# document root holds update/update.ini and the new release at the names update.ini gives
# ("plugins\Report.dll" is fetched as plugins/Report.dll).
# shellcheck source=SCRIPTDIR/../../tests/support/peers/peers.sh
source tests/support/peers/peers.sh
PEERS_DIR=$(mktemp -d /tmp/upd-demo.XXXXXX)
# (peers_cleanup's status is that of its last test, not of the clean-up: never the script's.)
trap 'peers_cleanup || true; rm -rf "$PEERS_DIR"' EXIT
chmod 755 "$PEERS_DIR"
www=$PEERS_DIR/nginx/www
mkdir -p "$PEERS_DIR/nginx" "$PEERS_DIR/nginx/www2"
cp -r resources/demo/server "$www"
mkdir -p "$www/plugins"
cp "$releases/new/Main.exe" "$www/Main.exe"
cp "$releases/new/plugins/Report.dll" "$www/plugins/Report.dll"
chmod -R a+rX "$PEERS_DIR/nginx"
peers_start nginx 2 nginx_conf demo demo
server="http://127.0.0.1:${PEER_PORTS[0]}/"
echo "== demo update server: $server (update/update.ini, Main.exe, plugins/Report.dll," \
  "data/Templates.dat) =="

# The application folder, laid anew at every run: the wizard reads the files beside its own
# executable. Templates.dat is dated before the date that update.ini announces for it.
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/plugins" "$demo/data"
cp build/app/update-wizard "$demo/update-wizard"
{
  "$tool" server-line "Demo server" "$server" "update/update.ini" EN
  "$tool" server-line "演示服务器" "$server" "update/update.ini" CHS
} >"$demo/update.svr"
cp "$releases/old/Main.exe" "$demo/Main.exe"
cp "$releases/old/plugins/Report.dll" "$demo/plugins/Report.dll"
cp resources/demo/app/data/Templates.dat "$demo/data/Templates.dat"
touch -d "2025-06-01 09:00:00" "$demo/data/Templates.dat"

# The version keys the wizard compares (updtool version), the date of the data file, and
# what the application itself says.
show_application() {
  "$tool" version "$demo/Main.exe" "$demo/plugins/Report.dll"
  printf '%s\t%s (last written)\n' "$(date -r "$demo/data/Templates.dat" '+%F %T')" \
    "$demo/data/Templates.dat"
  echo "\$ $demo/Main.exe"
  "$demo/Main.exe"
}

echo "== the demo application before the update =="
show_application
echo
echo "== what the wizard will download (updtool plan: SOURCE, TARGET, DESCRIPTION) =="
"$tool" fetch -o "$PEERS_DIR/update.ini" "${server}update/update.ini" >/dev/null
"$tool" plan --server "$server" --info "$PEERS_DIR/update.ini" "$demo"
echo

# Qt wants a private runtime folder; a root shell often has none.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$PEERS_DIR/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== the update wizard on $demo: choose the demo server and go on to the end =="
  "$demo/update-wizard" || status=$?
  echo "the wizard ended with status $status"
  status=0  # closing the window early is the user's choice
else
  echo "== no display: pictures of every page, with the demo folder's server list =="
  for scale in 1 2; do
    written=$(QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale \
      build/app/update_screenshots "$demo" build/screenshots "$((scale * 100))")
    grep -v '^wrote ' <<<"$written" || true
    echo "$(grep -c '^wrote ' <<<"$written") pictures at $((scale * 100)) % in build/screenshots/"
  done
  echo
  shots=build/screenshots/demo
  rm -rf "$shots"
  mkdir -p "$shots"
  echo "== no display: \$ $demo/update-wizard --auto --screenshots $shots =="
  "$demo/update-wizard" --auto --screenshots "$shots" || status=$?
  echo "exit status $status; pictures of its pages in $shots/"
fi
echo

echo "== the demo application after the update =="
show_application || status=1
exit "$status"
