#!/usr/bin/env bash
# check-installer.sh BUILD64 BUILD32
# Runs the installer's whole cycle in a fresh win64 prefix of its own (the
# build's prefix holds the other tests' registrations): an install that fails
# and rolls back, a silent install, both classes in their registry views, a
# recording opened by its path by the installed 32-bit and 64-bit players
# (refused as "library missing" until the stand-in library is put in the
# folder named by LIBRARYDIR), an upgrade from a version-bumped build that
# keeps the recorded settings and file types, a repair, and an uninstall that leaves no file
# under the install folder and no key naming the class in either view. Every
# Windows program runs under wine-run.sh's time limit.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build64=$(realpath "$1")
build32=$(realpath "$2")
work=$build64/installer-check
rm -rf "$work"
mkdir -p "$work"
echo win64 >"$work/wine-arch"
export KX_BUILD_DIR=$work
. "$root/scripts/wine-env.sh"
kx_wine_prefix
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

clsid='{54FA89DD-1E1B-43BE-8850-760A5348165C}'
handler='{4BA6C155-F99A-4E7E-9E77-D2E1668073D0}'
mapper='{083863F1-70DE-11D0-BD40-00A0C911CE86}'
folder='C:\Program Files\KXVDSrc'
unix_folder="$WINEPREFIX/drive_c/Program Files/KXVDSrc"
kx="$WINEPREFIX/drive_c/kx"
mkdir -p "$kx"

fail() {
  echo "installer: $*" >&2
  [ -f "$kx/msi.log" ] && tail -n 40 "$kx/msi.log" | tr -d '\r\000' >&2
  exit 1
}
run() { "$root/scripts/wine-run.sh" --timeout 120 "$@"; }
msi() {
  rm -f "$kx/msi.log"
  run msiexec "$@" /qn /l*v 'C:\kx\msi.log'
}
# value VIEW KEY [NAME]: the data of a value (the default one without NAME) in
# the 32-bit or 64-bit view, or nothing when it is absent.
value() {
  local which=(/ve)
  [ $# -ge 3 ] && which=(/v "$3")
  run reg query "$2" "${which[@]}" "/reg:$1" 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *[^ ].*  *REG_[A-Z_]*  *//p' | head -n 1
}
expect_value() {
  local got
  got=$(value "$@")
  [ "$got" = "$want" ] || fail "$2 ${3:-(default)} in the $1-bit view is '$got', expected '$want'"
}
# Both classes in their views with the mapper entries, and the recorded settings.
check_registered() {
  want="$folder\\KXVDSrc.ax" expect_value 32 "HKCR\\CLSID\\$clsid\\InprocServer32"
  want="$folder\\KXVDSrc64.ax" expect_value 64 "HKCR\\CLSID\\$clsid\\InprocServer32"
  want=Both expect_value 64 "HKCR\\CLSID\\$clsid\\InprocServer32" ThreadingModel
  for view in 32 64; do
    want="KXVD Source File" expect_value $view "HKCR\\CLSID\\$mapper\\Instance\\$clsid" FriendlyName
  done
  want='C:\Maker' expect_value 32 'HKLM\Software\KXVD\KXVDSrc' LibraryFolder
  for view in 32 64; do
    want=$clsid expect_value $view 'HKCR\Media Type\Extensions\.kxv' 'Source Filter'
    want=Both expect_value $view "HKCR\\CLSID\\$handler\\InprocServer32" ThreadingModel
    want='KXVD Recording Byte Stream Handler' \
      expect_value $view 'HKLM\Software\Microsoft\Windows Media Foundation\ByteStreamHandlers\.kxv' "$handler"
  done
}
# Opens the recording by its path in a graph of each width; prints nothing.
check_opens() {
  local player out
  for player in kxvplay.exe kxvplay64.exe; do
    out=$(run "$folder\\$player" info 'C:\kx\rec.kxr' --json) || fail "installed $player cannot open the recording"
    case $out in *'"width":320'*) ;; *) fail "installed $player reports: $out" ;; esac
  done
}

# The package as shipped, and the same one a version later.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build32/CPackConfig.cmake")
next=${version%.*}.$((${version##*.} + 1))
cmake --install "$build32" --component main --prefix "$work/stage" >/dev/null
"$root/scripts/make-msi.sh" "$work/stage" "$kx/old.msi" "$version" >/dev/null
"$root/scripts/make-msi.sh" "$work/stage" "$kx/new.msi" "$next" >/dev/null
code() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }

old_code=$(code "$kx/old.msi")
new_code=$(code "$kx/new.msi")
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# Whether a product has its uninstall entry: Windows keeps it in the 64-bit
# view, Wine in the 32-bit one.
installed() {
  { run reg query "$uninstall" /reg:64; run reg query "$uninstall" /reg:32; } 2>/dev/null | grep -qiF "$1"
}

# A registration that fails rolls the whole install back.
if msi /i 'C:\kx\old.msi' 'EXTENSIONS=no-such-item'; then
  fail "an install with a bad EXTENSIONS item succeeded"
fi
[ ! -e "$unix_folder/KXVDSrc.ax" ] || fail "the failed install left $folder\\KXVDSrc.ax"
[ -z "$(value 64 "HKCR\\CLSID\\$clsid\\InprocServer32")" ] || fail "the failed install left the 64-bit class"
[ -z "$(value 32 "HKCR\\CLSID\\$clsid\\InprocServer32")" ] || fail "the failed install left the 32-bit class"

msi /i 'C:\kx\old.msi' 'LIBRARYDIR=C:\Maker' 'EXTENSIONS=.kxv;0,4,,4B585652' || fail "silent install of $version failed"
for file in KXVDSrc.ax KXVDSrc64.ax KXVDHost.exe kxvplay.exe kxvplay64.exe kxrec.exe README.md LICENSE \
            docs/RecordingFormat.md; do
  [ -f "$unix_folder/$file" ] || fail "install lacks $file"
done
[ ! -e "$unix_folder/VUVezaVID.dll" ] || fail "the install holds a VUVezaVID.dll"
check_registered
run "$folder\\kxrec.exe" make 'C:\kx\rec.kxr' --size 320x240 --fps 25 --seconds 2 >/dev/null ||
  fail "installed kxrec cannot make a recording"
for player in kxvplay.exe kxvplay64.exe; do
  rc=0
  run "$folder\\$player" info 'C:\kx\rec.kxr' >/dev/null 2>&1 || rc=$?
  [ $rc -eq 4 ] || fail "installed $player without the library exits $rc, expected 4 (library missing)"
done
mkdir -p "$WINEPREFIX/drive_c/Maker"
cp "$build32/bin/VUVezaVID.dll" "$WINEPREFIX/drive_c/Maker/"
check_opens

# The upgrade names no property: it keeps the recorded library folder.
msi /i 'C:\kx\new.msi' || fail "upgrade to $next failed"
installed "$new_code" || fail "after the upgrade $next is not installed"
! installed "$old_code" || fail "the upgrade to $next left $version installed"
check_registered
check_opens

# Repair brings back a deleted module and a deleted class key.
rm -f "$unix_folder/KXVDSrc64.ax"
run reg delete "HKCR\\CLSID\\$clsid" /f /reg:32 >/dev/null 2>&1 || fail "cannot delete the 32-bit class key"
msi /i 'C:\kx\new.msi' REINSTALL=ALL REINSTALLMODE=omus || fail "repair failed"
[ -f "$unix_folder/KXVDSrc64.ax" ] || fail "repair did not bring back KXVDSrc64.ax"
check_registered
check_opens

msi /x 'C:\kx\new.msi' || fail "uninstall failed"
if [ -d "$unix_folder" ]; then
  left=$(find "$unix_folder" -mindepth 1 | head -n 5)
  [ -z "$left" ] || fail "uninstall left: $left"
fi
! installed "$new_code" || fail "uninstall left the product registered"
for view in 32 64; do
  for hive in HKLM HKCU; do
    run reg export "$hive" "C:\\kx\\$hive-$view.reg" "/reg:$view" /y >/dev/null 2>&1 ||
      fail "cannot export $hive ($view-bit view)"
  done
done
python3 - "$kx" "$clsid" <<'PY'
import sys, glob, os
folder, clsid = sys.argv[1], sys.argv[2].lower()
found = []
for path in sorted(glob.glob(os.path.join(folder, "*.reg"))):
    data = open(path, "rb").read()
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("utf-8", "replace")
    key = None
    for line in text.splitlines():
        if line.startswith("["):
            key = line
        if clsid in line.lower() or "\\kxvd\\kxvdsrc]" in line.lower():
            found.append("%s: %s %s" % (os.path.basename(path), key, line.strip()[:120]))
if found:
    sys.exit("installer: uninstall left keys naming the class or the settings:\n" + "\n".join(found[:10]))
PY
echo "installer ok: failed install rolled back, install $version, upgrade to $next, repair, uninstall"
