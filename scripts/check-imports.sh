#!/usr/bin/env bash
# check-imports.sh BINDIR: fails when any .exe, .dll or .ax in BINDIR imports a
# MinGW runtime DLL; shipped binaries must carry their runtime inside.
set -u
dir=${1:?usage: check-imports.sh BINDIR}
objdump=i686-w64-mingw32-objdump
command -v x86_64-w64-mingw32-objdump >/dev/null && objdump=x86_64-w64-mingw32-objdump
bad=0; n=0
for f in "$dir"/*.exe "$dir"/*.dll "$dir"/*.ax; do
  [ -f "$f" ] || continue
  n=$((n + 1))
  # The x86-64 objdump reads both widths' binaries; the i686 one only 32-bit.
  libs=$("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p')
  if echo "$libs" | grep -i -q -E '^(libgcc|libstdc\+\+|libwinpthread|libgomp|libssp)'; then
    echo "$(basename "$f") imports a MinGW runtime DLL: $(echo "$libs" | grep -i -E 'libgcc|libstdc|libwinpthread|libgomp|libssp' | tr '\n' ' ')"
    bad=1
  fi
done
[ $n -gt 0 ] || { echo "no binaries found in $dir"; exit 1; }
[ $bad -eq 0 ] && echo "$n binaries, none imports a MinGW runtime DLL"
exit $bad
