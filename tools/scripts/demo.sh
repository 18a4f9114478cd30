#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine (as root), builds the project and runs the
# update wizard's main job on the bundled demo: a local nginx serves the demo update set
# (resources/demo/server/), the demo folder's update.svr names it, and the wizard takes the
# user from the welcome page to the download plan: in a window when a display is present,
# otherwise on Qt's offscreen platform (pictures of its pages), followed by the same
# download and decision from the command line with updtool.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target updtool update-wizard update_screenshots

tool=build/tools/updtool/updtool

# The demo server: nginx on a free port of 127.0.0.1, stopped when the script ends.
# shellcheck source=SCRIPTDIR/../../tests/support/peers/peers.sh
source tests/support/peers/peers.sh
PEERS_DIR=$(mktemp -d /tmp/upd-demo.XXXXXX)
trap 'peers_cleanup; rm -rf "$PEERS_DIR"' EXIT
chmod 755 "$PEERS_DIR"
mkdir -p "$PEERS_DIR/nginx"
cp -r resources/demo/server "$PEERS_DIR/nginx/www"
mkdir -p "$PEERS_DIR/nginx/www2"
chmod -R a+rX "$PEERS_DIR/nginx"
peers_start nginx 2 nginx_conf demo demo
server="http://127.0.0.1:${PEER_PORTS[0]}/"
echo "== demo update server: $server (update/update.ini) =="

# The wizard reads the files beside its own executable: a copy of it in build/demo, with
# an update.svr that names the demo server in both languages.
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo"
cp build/app/update-wizard "$demo/update-wizard"
{
  "$tool" server-line "Demo server" "$server" "update/update.ini" EN
  "$tool" server-line "演示服务器" "$server" "update/update.ini" CHS
} >"$demo/update.svr"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== the update wizard on $demo (close it to go on) =="
  "$demo/update-wizard" || true
else
  echo "== no display: the wizard's pages on the offscreen platform =="
  for scale in 1 2; do
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale \
      build/app/update_screenshots "$demo" build/screenshots "$((scale * 100))"
  done
  echo "screenshots written to build/screenshots/"
fi
echo

echo "== the update information, fetched with the wizard's engine =="
"$tool" fetch -o "$demo/update.ini" "${server}update/update.ini"
echo "saved as $demo/update.ini"
echo
echo "== what the wizard would download into $demo (SOURCE, TARGET, DESCRIPTION) =="
"$tool" plan --server "$server" "$demo"
rm -f "$demo/update.ini"
echo
echo "== the servers of $demo/update.svr =="
"$tool" servers "$demo/update.svr"
echo
echo "== the wizard's own product version (its .fileversion section) =="
"$tool" version "$demo/update-wizard"
