#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine (as root), builds the project and starts
# the update wizard on the bundled demo folder: in a window when a display is present,
# otherwise on Qt's offscreen platform, saving pictures of its windows. Then runs the
# release engineer's tool on the bundled sample files.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target updtool update update_screenshots

# The wizard reads the files beside its own executable: put a copy of it into the demo
# folder's copy under build/.
demo=build/demo
mkdir -p "$demo"
cp build/app/update "$demo/update"
cp resources/demo/update.svr "$demo/update.svr"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "== the update wizard on $demo (close it to go on) =="
  "$demo/update"
else
  echo "== no display: the update wizard's windows on the offscreen platform =="
  for scale in 1 2; do
    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale \
      build/app/update_screenshots "$demo" build/screenshots "$((scale * 100))"
  done
  echo "screenshots written to build/screenshots/"
fi
echo

tool=build/tools/updtool/updtool
samples=resources/samples

echo "== servers of $samples/update.svr =="
"$tool" servers "$samples/update.svr"
echo
echo "== a new server line =="
"$tool" server-line "Mirror" "http://127.0.0.1:8080/" "update/update.ini" EN
echo
echo "== the tool's own product version (its .fileversion section) =="
"$tool" version "$tool"
