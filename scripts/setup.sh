#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need on a Debian 12
# machine. Idempotent: does nothing when all is in place. Run as root.
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
pkgs="wine wine32:i386 g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 cmake googletest
      gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-base:i386 python3 zip ffmpeg"
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
