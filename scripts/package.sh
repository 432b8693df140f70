#!/usr/bin/env bash
# Builds and makes the packages in $KX_BUILD_DIR/package: the main zip
# (module, player, recording tool, documents), the installer for 64-bit
# Windows with the same set (KXVDSrc-<version>-x64.msi), and the test-only zip
# with the stand-in playback library.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${KX_BUILD_DIR:=$root/build}"
KX_BUILD_DIR=$(realpath -m "$KX_BUILD_DIR")
export KX_BUILD_DIR
[ "${KX_SKIP_BUILD:-}" = 1 ] || "$root/scripts/build.sh" >/dev/null
cd "$KX_BUILD_DIR"
cpack --config CPackConfig.cmake >/dev/null
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' CPackConfig.cmake)
stage=$KX_BUILD_DIR/package/msi-stage
rm -rf "$stage"
cmake --install . --component main --prefix "$stage" --strip >/dev/null
"$root/scripts/make-msi.sh" "$stage" "$KX_BUILD_DIR/package/KXVDSrc-$version-x64.msi" "$version" >/dev/null
rm -rf "$stage"
ls -1 "$KX_BUILD_DIR"/package/*.zip "$KX_BUILD_DIR"/package/*.msi
