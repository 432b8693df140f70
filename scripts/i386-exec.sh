#!/usr/bin/env bash
# Makes sure this machine can start 32-bit x86 Linux programs, which Wine's
# 32-bit loader is. Some virtual machines cannot (paravirtualised guests whose
# kernel has no compatibility mode): every 32-bit program fails there with
# "Exec format error". On such a machine 32-bit programs are run through
# QEMU's user-mode emulator, registered with binfmt_misc, and Wine's server
# runs as the native 64-bit one. QEMU older than 8 keeps its guest page table
# so slowly that each Wine process needs about 50 s to start, so the emulator
# comes from the distribution's backports when the release's own is older.
# Idempotent; run as root (after the i386 C library is installed).
set -eu
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
probe=/lib/ld-linux.so.2
qemu=/usr/bin/qemu-i386
fmt=/proc/sys/fs/binfmt_misc

runs_i386() { "$probe" --version >/dev/null 2>&1; }

runs_i386 && exit 0
[ -x "$probe" ] || { echo "i386-exec: $probe is missing (libc6:i386 not installed)" >&2; exit 1; }
if [ "$(id -u)" -ne 0 ]; then
  echo "i386-exec: this machine cannot start 32-bit programs; root is needed to set up emulation" >&2
  exit 1
fi
echo "i386-exec: this machine cannot start 32-bit programs; running them through QEMU's user-mode emulator"

qemu_major() { "$qemu" --version 2>/dev/null | sed -n 's/.*version \([0-9]*\)\..*/\1/p;q'; }

export DEBIAN_FRONTEND=noninteractive
major=$(qemu_major)
if [ -z "$major" ] || [ "$major" -lt 8 ] || [ ! -x /usr/lib/wine/wineserver64 ]; then
  . /etc/os-release
  release=()
  candidate=$(apt-cache policy qemu-user 2>/dev/null | sed -n 's/ *Candidate: \([0-9]*:\)\{0,1\}\([0-9]*\)\..*/\2/p')
  if [ -z "$candidate" ] || [ "$candidate" -lt 8 ]; then
    backports="${VERSION_CODENAME}-backports"
    list=/etc/apt/sources.list.d/kx-backports.sources
    if [ ! -f "$list" ]; then
      printf 'Types: deb\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$backports" >"$list"
      "$here/apt-update.sh"
    fi
    release=(-t "$backports")
  fi
  apt-get install -y -qq --no-install-recommends "${release[@]}" qemu-user >/dev/null
  apt-get install -y -qq --no-install-recommends wine64 >/dev/null
  major=$(qemu_major)
  if [ -z "$major" ] || [ "$major" -lt 8 ]; then
    echo "i386-exec: QEMU 8 or newer is needed, found '${major:-none}'" >&2
    exit 1
  fi
fi

[ -e "$fmt/register" ] || mount -t binfmt_misc binfmt_misc "$fmt"
entry="$fmt/qemu-i386"
# An entry made with F holds the interpreter it was given open: one naming an
# older emulator has to be replaced, not just left beside the new one.
if [ -e "$entry" ] && ! grep -qx "interpreter $qemu" "$entry"; then echo -1 >"$entry"; fi
if [ ! -e "$entry" ]; then
  # 32-bit little-endian ELF, executable or shared object, machine 3 (i386).
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  printf '%s' ":qemu-i386:M::$magic:$mask:$qemu:F" >"$fmt/register"
fi
echo 1 >"$entry"
runs_i386 || { echo "i386-exec: 32-bit programs still do not start through $qemu" >&2; exit 1; }
echo "i386-exec: 32-bit programs run through $qemu (QEMU $major)"
