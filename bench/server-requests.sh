#!/usr/bin/env bash
# bash bench/server-requests.sh [--size WxH] [--wide] [--mf]
# Counts the wineserver requests (kernel transitions under Wine: waits,
# event signals, semaphores, ...) that one picture of unclocked playback
# costs: plays a recording of 3000 and one of 1000 pictures (with sound) with
# kxvplay into Null Renderers under a wineserver that logs every request,
# and divides the difference by 2000 pictures, so start-up and teardown drop
# out. Prints the requests per picture by name, the largest first, for the
# build in KX_BUILD_DIR (default: build; --wide: KX_BUILD64_DIR, default the
# same name with 64). --mf reads through the Media Foundation source instead
# (kxvplay open --mf, the source reader from the path, with the module's
# handler registered for .kxr). Stops the build prefix's wineserver before
# and after.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
size=352x288
wide=0
mf=0
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --wide) wide=1; shift ;;
    --mf) mf=1; shift ;;
    *) echo "usage: server-requests.sh [--size WxH] [--wide] [--mf]" >&2; exit 2 ;;
  esac
done
: "${KX_BUILD_DIR:=$root/build}"
narrow=$KX_BUILD_DIR
if [ $wide -eq 1 ]; then KX_BUILD_DIR=${KX_BUILD64_DIR:-${narrow%/}64}; fi
export KX_BUILD_DIR
. "$root/scripts/wine-env.sh"
kx_wine_prefix
bin=$KX_BUILD_DIR/bin
work=$(mktemp -d "$KX_BUILD_DIR/requests.XXXXXX")
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
(cd "$work" && for n in 1000 3000; do
  wine "$narrow/bin/kxrec.exe" make "p$n.kxr" --size "$size" --fps 25 --seconds $((n / 25)) >/dev/null
done)
types=()
run=(play)
if [ $mf -eq 1 ]; then types=(/i:.kxr); run=(open --mf); fi
(cd "$bin" && wine regsvr32 /s "${types[@]}" "$(basename "$(ls "$bin"/KXVDSrc*.ax | head -1)")" >/dev/null 2>&1)
count() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -f -d1 2>"$work/log$1" &
  local server=$!
  sleep 1
  (cd "$work" && wine "$bin/kxvplay.exe" "${run[@]}" "p$1.kxr" >"$work/play$1" 2>&1)
  wineserver -k 2>/dev/null || true
  wait $server 2>/dev/null || true
  # Requests, not replies: "0024: select( ... )", not "0024: select() = ...".
  grep -oE '^[0-9a-f]{4}: [a-z_]+\( ' "$work/log$1" | sed -E 's/^[0-9a-f]+: ([a-z_]+).*/\1/' | sort | uniq -c |
    awk '{print $2, $1}' >"$work/count$1"
}
count 1000
count 3000
join -a1 -a2 -e 0 -o 0,1.2,2.2 <(sort "$work/count1000") <(sort "$work/count3000") |
  awk '{d = ($3 - $2) / 2000; if (d >= 0.05 || d <= -0.05) printf "%-28s %6.2f\n", $1, d; t += d}
       END {printf "%-28s %6.2f\n", "all requests", t}' | sort -k2 -nr
echo "kxvplay ${run[*]}, 3000 pictures: $(tr '\r' '\n' <"$work/play3000" | grep -v '^playing' | grep -E 'pictures|wall' | tr '\n' ' ')"
