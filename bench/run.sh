#!/usr/bin/env bash
# bash bench/run.sh [kxbench options]
# Builds kxbench (and the module it measures) into KX_BUILD_DIR (default:
# build-bench) and runs the full benchmark in that build's Wine prefix.
# Results: $KX_BUILD_DIR/bench/results.json and results.png.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$root/build-bench}"
export KX_BUILD_DIR
cmake -S "$root" -B "$KX_BUILD_DIR" >/dev/null
cmake --build "$KX_BUILD_DIR" -j2 --target kxbench
mkdir -p "$KX_BUILD_DIR/bench"
cd "$KX_BUILD_DIR/bin"
exec bash "$root/scripts/wine-run.sh" --timeout 1800 "$KX_BUILD_DIR/bin/kxbench.exe" \
  --out "$KX_BUILD_DIR/bench/results.json" "$@"
