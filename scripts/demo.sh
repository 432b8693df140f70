#!/usr/bin/env bash
# The main job on a built-in sample: sets up the machine, builds, makes a
# sample recording with sound, registers KXVDSrc.ax in the build's Wine prefix
# and then uses it as any DirectShow application would, through kxvplay:
# info, play, export to AVI and a contact sheet. Then the same for 64-bit
# applications: KXVDSrc64.ax registered in the 64-bit build's win64 prefix,
# used by the 64-bit kxvplay (info, play, export). Outputs go to build/demo/.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
: "${KX_BUILD_DIR:=$root/build}"
: "${KX_BUILD64_DIR:=${KX_BUILD_DIR%/}64}"
. "$root/scripts/wine-env.sh"
kx_wine_prefix
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
bin="$KX_BUILD_DIR/bin"
out="$KX_BUILD_DIR/demo"
mkdir -p "$out"
run() { "$root/scripts/wine-run.sh" --timeout 120 "$@"; }
# Paths are handed to Windows programs relative to the output folder.
cd "$out"
rm -f sample.kxr sample.avi sheet.png

echo "== making a sample recording: 352x288 at 25 fps, 12 s, with sound"
run "$bin/kxrec.exe" make sample.kxr --size 352x288 --fps 25 --seconds 12
echo "== registering KXVDSrc.ax"
(cd "$bin" && run regsvr32 /s KXVDSrc.ax)
echo "== kxvplay info"
run "$bin/kxvplay.exe" info sample.kxr
echo "== kxvplay play"
run "$bin/kxvplay.exe" play sample.kxr
echo "== kxvplay export to AVI"
run "$bin/kxvplay.exe" export sample.kxr sample.avi
echo "== kxvplay sheet"
run "$bin/kxvplay.exe" sheet sample.kxr sheet.png

bin64="$KX_BUILD64_DIR/bin"
run64() { KX_BUILD_DIR="$KX_BUILD64_DIR" "$root/scripts/wine-run.sh" --timeout 120 "$@"; }
rm -f sample64.avi
echo "== registering KXVDSrc64.ax (64-bit regsvr32, win64 prefix)"
(cd "$bin64" && run64 regsvr32 /s KXVDSrc64.ax)
echo "== kxvplay (64-bit) info, through KXVDSrc64.ax and its helper KXVDHost.exe"
run64 "$bin64/kxvplay.exe" info sample.kxr
echo "== kxvplay (64-bit) play"
run64 "$bin64/kxvplay.exe" play sample.kxr
echo "== kxvplay (64-bit) export to AVI"
run64 "$bin64/kxvplay.exe" export sample.kxr sample64.avi
KX_BUILD_DIR="$KX_BUILD64_DIR" bash -c '. "$1/scripts/wine-env.sh"; wineserver -k >/dev/null 2>&1 || true' _ "$root"
echo
echo "Outputs in $out:"
echo "  sample.kxr    the recording"
echo "  sample.avi    the export (YUY2 video, 8 kHz PCM sound), 32-bit module"
echo "  sample64.avi  the same export through the 64-bit module"
echo "  sheet.png     contact sheet of the pictures with their times"
