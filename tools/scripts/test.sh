#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine (as root) and runs the whole test suite:
# the normal build with its tests and benchmark figures, then the sanitizer build
# (AddressSanitizer + UndefinedBehaviorSanitizer) with its tests and the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/../.."

bash tools/scripts/setup.sh

jobs=$(nproc)

echo "== normal build =="
cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

echo "== benchmarks =="
build/tools/bench/profile_file_bench --benchmark_min_time=0.2
build/tools/bench/update_plan_bench
bash tools/bench/throughput.sh --short
bash tools/bench/https_throughput.sh --short
bash tools/bench/download_page.sh
bash tools/bench/far_link.sh --short
bash tools/bench/patch_updates.sh --short

echo "== sanitizer build =="
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== formatting =="
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
echo "all test stages passed"
