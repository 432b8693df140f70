#!/usr/bin/env bash
# Fetches the package indexes. A mirror in the middle of a sync serves an index
# of the wrong size for a while, and apt-get then fails; a later try gets a
# whole one: up to ten tries a minute apart.
set -eu
tries=0
until apt-get update -qq; do
  tries=$((tries + 1))
  if [ "$tries" -ge 10 ]; then
    echo "apt-update: the package indexes could not be fetched" >&2
    exit 1
  fi
  echo "apt-update: fetching the package indexes failed; trying again in 60 s" >&2
  sleep 60
done
