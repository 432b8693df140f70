#!/usr/bin/env bash
# wine-run.sh [--timeout SECONDS] PROGRAM.exe [ARGS...]
# Runs a Windows program of the build in the build's private Wine prefix. The
# program is killed after the time limit (default 300 s) so a hang fails.
set -u
limit=300
if [ "${1:-}" = "--timeout" ]; then limit=$2; shift 2; fi
[ $# -ge 1 ] || { echo "usage: wine-run.sh [--timeout S] PROGRAM [ARGS...]" >&2; exit 2; }
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
kx_wine_prefix
# The program's output goes through files, not through our caller's pipes:
# Wine starts its desktop process from the first program that needs it, and
# that process inherits the program's output and lives until every other
# program in the prefix has ended, so a caller reading a pipe (ctest) would
# wait for all of them.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
timeout -k 10 "$limit" wine "$@" >"$out" 2>"$err"
rc=$?
cat "$out"
cat "$err" >&2
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "wine-run: $(basename "$1") did not finish within $limit s" >&2
fi
exit $rc
