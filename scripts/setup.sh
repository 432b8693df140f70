#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12
# machine. Idempotent: does nothing when all is in place. Run as root.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# wine64, the x86-64 cross compiler and the 64-bit GStreamer plugins (Wine's
# 64-bit AVI reader) are for the 64-bit module, which is tested in a win64
# prefix where its 32-bit helper runs beside it. Xvfb, Mesa's software GL and
# PulseAudio (both widths of the libraries) make the desktop on which the
# tests use the platform's video and audio renderers (scripts/desktop.sh).
pkgs="wine wine32:i386 wine64 g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
      g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64 cmake googletest
      gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good
      gstreamer1.0-plugins-base python3 zip ffmpeg
      xvfb x11-utils pulseaudio pulseaudio-utils libgl1-mesa-dri:i386 libgl1-mesa-dri:amd64
      libglx-mesa0:i386 libglx-mesa0:amd64 libgl1:i386 libgl1:amd64 libpulse0:i386 libpulse0:amd64"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -z "$missing" ]; then
  "$here/i386-exec.sh"
  exit 0
fi
echo "setup: installing$missing"
if [ "$(id -u)" -ne 0 ]; then
  echo "setup: root is needed to install packages (missing:$missing)" >&2
  exit 1
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
"$here/i386-exec.sh"
echo "setup: done"
