#!/usr/bin/env bash
# Configures and builds the project into KX_BUILD_DIR (default: build).
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$root/build}"
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S "$root" -B "$KX_BUILD_DIR" -DKX_WERROR=$werror >/dev/null
cmake --build "$KX_BUILD_DIR" -j"$(nproc)"
