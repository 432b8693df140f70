#!/usr/bin/env bash
# Installs everything the build, the tests, the demo and the installer need on
# a Debian 12 machine. Idempotent: does nothing when all is in place. Run as
# root.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# One package a line. A package that exists in both widths is named once per
# width (name:i386, name:amd64): a plain name is satisfied by either width, so
# a machine that had only the 32-bit one would never get the 64-bit one.
# wine64, the x86-64 cross compiler and the 64-bit GStreamer plugins (Wine's
# 64-bit AVI reader) are for the 64-bit module, which is tested in a win64
# prefix where its 32-bit helper runs beside it. Xvfb, Mesa's software GL and
# PulseAudio (both widths of the libraries) make the desktop on which the
# tests use the platform's video and audio renderers (scripts/desktop.sh);
# msitools and wixl build and inspect the installer.
pkgs="
wine
wine32:i386
wine64
g++-mingw-w64-i686
mingw-w64-i686-dev
binutils-mingw-w64-i686
g++-mingw-w64-x86-64-posix
mingw-w64-x86-64-dev
binutils-mingw-w64-x86-64
cmake
googletest
gstreamer1.0-plugins-good:i386
gstreamer1.0-plugins-good:amd64
gstreamer1.0-plugins-base:i386
gstreamer1.0-plugins-base:amd64
python3
zip
ffmpeg
msitools
wixl
xvfb
x11-utils
pulseaudio
pulseaudio-utils
libgl1-mesa-dri:i386
libgl1-mesa-dri:amd64
libglx-mesa0:i386
libglx-mesa0:amd64
libgl1:i386
libgl1:amd64
libpulse0:i386
libpulse0:amd64
"
installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -qx 'install ok installed'
}
missing=""
for p in $pkgs; do
  installed "$p" || missing="$missing $p"
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
"$here/apt-update.sh"
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
"$here/i386-exec.sh"
echo "setup: done"
