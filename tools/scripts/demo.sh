#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine (as root), builds the project and runs
# the release engineer's tool on the bundled sample files.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target updtool

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
