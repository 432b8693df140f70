#!/usr/bin/env bash
# bash bench/run.sh [kxbench options]
# Builds kxbench (and the module it measures) for both widths: the 32-bit
# build into KX_BUILD_DIR (default: build-bench), the 64-bit one (64-bit
# module, with the helper from the 32-bit build) into KX_BUILD64_DIR (default:
# the same name with 64). Runs the full 32-bit benchmark, then the 64-bit one
# (the smallest and largest size and the many-files run), each in its build's
# Wine prefix, and sets the 64-bit path's throughput beside the 32-bit one's.
# Results: $KX_BUILD_DIR/bench/results.json and results.png, the same in
# $KX_BUILD64_DIR/bench, and $KX_BUILD_DIR/bench/widths.json.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$root/build-bench}"
: "${KX_BUILD64_DIR:=${KX_BUILD_DIR%/}64}"
narrow=$KX_BUILD_DIR
wide=$KX_BUILD64_DIR
cmake -S "$root" -B "$narrow" >/dev/null
cmake --build "$narrow" -j2 --target kxbench KXVDHost
cmake -S "$root" -B "$wide" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64.cmake" -DKX_HOST_BIN="$narrow/bin" >/dev/null
cmake --build "$wide" -j2 --target kxbench
status=0
for build in "$narrow" "$wide"; do
  mkdir -p "$build/bench"
  (cd "$build/bin" && KX_BUILD_DIR=$build bash "$root/scripts/wine-run.sh" --timeout 1800 "$build/bin/kxbench.exe" \
    --out "$build/bench/results.json" "$@") || status=1
done
python3 "$root/bench/compare-widths.py" "$narrow/bench/results.json" "$wide/bench/results.json" \
  "$narrow/bench/widths.json" || status=1
exit $status
