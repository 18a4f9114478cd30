#!/usr/bin/env bash
# Saves a PNG of every page of the wizard and of the proxy dialog, in English and in
# Simplified Chinese, at 100 % and 200 % scale, on Qt's offscreen platform (no display
# needed), with the demo folder's server list:
#
#     bash tools/scripts/screenshots.sh [OUT_FOLDER]     (default: build/screenshots)
#
# Files: OUT_FOLDER/<window>_<en|zh>_<100|200>.png. UPD_BUILD_DIR picks another build folder
# than build/ (configured with the default preset when it does not exist yet).
set -euo pipefail
cd "$(dirname "$0")/../.."

out=${1:-build/screenshots}
build=${UPD_BUILD_DIR:-build}

bash tools/scripts/setup.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  if [ "$build" = build ]; then
    cmake --preset default >/dev/null
  else
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
fi
cmake --build "$build" -j "$(nproc)" --target update_screenshots

mkdir -p "$out"
for scale in 1 2; do
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=$scale \
    "$build/app/update_screenshots" resources/demo "$out" "$((scale * 100))"
done
echo "screenshots written to $out/"
