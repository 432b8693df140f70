#!/usr/bin/env bash
# wine-run.sh [--stream] [--timeout SECONDS] PROGRAM.exe [ARGS...]
# Runs a Windows program of the build in the build's private Wine prefix. The
# program is killed after the time limit (default 300 s) so a hang fails.
# --stream hands the program our own standard output and error as they are,
# for a pipe into another program (an export into an encoder); it has no
# time limit unless --timeout gives one.
set -u
limit=""
stream=0
while :; do
  case "${1:-}" in
    --timeout) limit=$2; shift 2 ;;
    --stream) stream=1; shift ;;
    *) break ;;
  esac
done
if [ -z "$limit" ]; then
  if [ $stream -eq 1 ]; then limit=0; else limit=300; fi
fi
[ $# -ge 1 ] || { echo "usage: wine-run.sh [--stream] [--timeout S] PROGRAM [ARGS...]" >&2; exit 2; }
. "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
kx_wine_prefix
if [ $stream -eq 1 ]; then
  # kx_wine_prefix started Wine's desktop and services with their output
  # detached, so only the program itself holds our caller's pipe.
  timeout -k 10 "$limit" wine "$@"
  rc=$?
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "wine-run: $(basename "$1") did not finish within $limit s" >&2
  fi
  exit $rc
fi
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
