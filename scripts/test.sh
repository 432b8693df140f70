#!/usr/bin/env bash
# Sets up the machine, builds, and runs every test under Wine.
# Extra arguments go to ctest (for example -R reader or --repeat until-fail:20).
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
. "$root/scripts/wine-env.sh"
kx_wine_prefix
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
cd "$KX_BUILD_DIR"
ctest --output-on-failure -j2 "$@"
