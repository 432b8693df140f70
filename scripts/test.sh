#!/usr/bin/env bash
# Sets up the machine, builds both widths, and runs every test under Wine:
# the 32-bit build's in its win32 prefix, then the 64-bit build's in its
# win64 prefix, each on a desktop of its own (scripts/desktop.sh). Extra arguments go to both ctest runs (for example -R filter
# or --repeat until-fail:20).
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$root/build}"
: "${KX_BUILD64_DIR:=${KX_BUILD_DIR%/}64}"
export KX_BUILD_DIR KX_BUILD64_DIR
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
status=0
for build in "$KX_BUILD_DIR" "$KX_BUILD64_DIR"; do
  (
    KX_BUILD_DIR=$build
    . "$root/scripts/wine-env.sh"
    . "$root/scripts/desktop.sh"
    trap 'wineserver -k >/dev/null 2>&1 || true; kx_desktop_stop' EXIT
    kx_desktop_start
    # A server left from an earlier run would keep that run's display.
    wineserver -k >/dev/null 2>&1 || true
    kx_wine_prefix
    echo "== tests of $(basename "$build") ($WINEARCH)"
    cd "$build"
    ctest --output-on-failure -j2 "$@"
  ) || status=1
done
exit $status
