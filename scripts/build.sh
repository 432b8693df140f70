#!/usr/bin/env bash
# Configures and builds both widths: the 32-bit build (module, helper,
# stand-in library, tools, tests) into KX_BUILD_DIR (default: build), then the
# 64-bit build (64-bit module, player, tests, bench) into KX_BUILD64_DIR
# (default: the same name with 64), which takes the helper and the library
# from the 32-bit build.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$root/build}"
: "${KX_BUILD64_DIR:=${KX_BUILD_DIR%/}64}"
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S "$root" -B "$KX_BUILD_DIR" -DKX_WERROR=$werror -DKX_WIDE_BIN="$KX_BUILD64_DIR/bin" >/dev/null
cmake --build "$KX_BUILD_DIR" -j"$(nproc)"
cmake -S "$root" -B "$KX_BUILD64_DIR" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw64.cmake" -DKX_WERROR=$werror \
  -DKX_HOST_BIN="$KX_BUILD_DIR/bin" >/dev/null
cmake --build "$KX_BUILD64_DIR" -j"$(nproc)"
