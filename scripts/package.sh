#!/usr/bin/env bash
# Builds and makes the two zip packages in $KX_BUILD_DIR/package: the main one
# (module, player, recording tool, documents) and the test-only one with the
# stand-in playback library.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$root/build}"
KX_BUILD_DIR=$(realpath -m "$KX_BUILD_DIR")
export KX_BUILD_DIR
[ "${KX_SKIP_BUILD:-}" = 1 ] || "$root/scripts/build.sh" >/dev/null
cd "$KX_BUILD_DIR"
cpack --config CPackConfig.cmake >/dev/null
ls -1 "$KX_BUILD_DIR"/package/*.zip
