#!/usr/bin/env bash
# check-ffmpeg-export.sh BUILD_DIR: kxvplay's streamed exports read by the real
# ffmpeg on the Linux side, as the README's recipe uses them: a short
# recording's pictures as Y4M through standard output (the same bytes as the
# file export, so Wine's pipe changes nothing), its sound as WAV through a
# pipe and as a file, and the two muxed into an MP4 with libx264 and aac.
# Exits 77 (skipped) where ffmpeg is not installed.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export KX_BUILD_DIR=$1
bin="$KX_BUILD_DIR/bin"
if ! command -v ffmpeg >/dev/null || ! command -v ffprobe >/dev/null; then
  echo "ffmpeg is not installed: skipped"
  exit 77
fi
run() { "$root/scripts/wine-run.sh" --timeout 120 "$@"; }
stream() { "$root/scripts/wine-run.sh" --stream --timeout 120 "$@"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
expect() {   # expect WHAT ACTUAL WANTED
  [ "$2" = "$3" ] || fail "$1: got '$2', wanted '$3'"
}
work=$(mktemp -d "$KX_BUILD_DIR/ffmpeg-export.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"

# 2 s at 25 pictures per second: 50 pictures, 16000 sound samples.
run "$bin/kxrec.exe" make rec.kxr --size 320x240 --fps 25 --seconds 2 >/dev/null
(cd "$bin" && run regsvr32 /s KXVDSrc.ax)

run "$bin/kxvplay.exe" export rec.kxr rec.y4m >/dev/null
piped=$(stream "$bin/kxvplay.exe" export rec.kxr - --format y4m 2>/dev/null | md5sum | cut -d' ' -f1)
expect "Y4M through the pipe, against the file" "$piped" "$(md5sum <rec.y4m | cut -d' ' -f1)"
probe=$(stream "$bin/kxvplay.exe" export rec.kxr - --format y4m 2>/dev/null |
  ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=width,height,pix_fmt,r_frame_rate,nb_read_frames -of default=nw=1 -)
expect "Y4M stream as ffprobe reads it" "$(echo $probe)" \
  "width=320 height=240 pix_fmt=yuv422p r_frame_rate=25/1 nb_read_frames=50"

bytes=$(stream "$bin/kxvplay.exe" export rec.kxr - --format wav 2>/dev/null | ffmpeg -v error -i - -f s16le - | wc -c)
expect "sound bytes ffmpeg decodes from the WAV pipe" "$bytes" 32000
run "$bin/kxvplay.exe" export rec.kxr rec.wav >/dev/null
probe=$(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels,duration -of default=nw=1 rec.wav)
expect "WAV file as ffprobe reads it" "$(echo $probe)" \
  "codec_name=pcm_s16le sample_rate=8000 channels=1 duration=2.000000"

# The README's recipe.
stream "$bin/kxvplay.exe" export rec.kxr - --format y4m 2>/dev/null |
  ffmpeg -v error -y -i - -i rec.wav -c:v libx264 -pix_fmt yuv420p -c:a aac rec.mp4
probe=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=codec_name,duration,nb_read_frames \
  -of default=nw=1 rec.mp4)
expect "MP4 pictures" "$(echo $probe)" "codec_name=h264 duration=2.000000 nb_read_frames=50"
probe=$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,duration -of default=nw=1 rec.mp4)
expect "MP4 sound" "$(echo $probe)" "codec_name=aac duration=2.000000"
echo "ffmpeg reads the exports: 50 pictures 320x240 at 25/1 in 4:2:2, 2.000 s of 8 kHz mono sound, an H.264 + AAC MP4"
