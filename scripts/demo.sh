#!/usr/bin/env bash
# The main job on a built-in sample: sets up the machine, builds, makes a sample
# recording with a picture-size change and sound, and decodes it through the
# playback library (the stand-in here), printing what arrived.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" >/dev/null
. "$root/scripts/wine-env.sh"
kx_wine_prefix
out="$KX_BUILD_DIR/demo"
mkdir -p "$out"
sample="$out/sample.kxr"
run() { "$root/scripts/wine-run.sh" --timeout 120 "$@"; }
echo "== making $sample (320x240 at 25 fps, 10 s, sound, size change at 5 s)"
run "$KX_BUILD_DIR/bin/kxrec.exe" make "$sample" --size 320x240 --fps 25 --seconds 10 --size-change-at 5:640x480
echo "== recording"
run "$KX_BUILD_DIR/bin/kxrec.exe" show "$sample"
echo "== decoding through VUVezaVID.dll"
run "$KX_BUILD_DIR/bin/kxrec.exe" decode "$sample"
echo "== sample recording: $sample"
