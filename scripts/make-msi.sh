#!/usr/bin/env bash
# make-msi.sh STAGE OUT.msi VERSION
# Builds the per-machine installer for 64-bit Windows (installer/KXVDSrc.wxs)
# with wixl from STAGE, a folder the main component was installed into
# (cmake --install BUILD --component main --prefix STAGE). VERSION is x.y.z.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
[ $# -eq 3 ] || { echo "usage: make-msi.sh STAGE OUT.msi VERSION" >&2; exit 2; }
stage=$(realpath "$1")
out=$(realpath -m "$2")
version=$3
mkdir -p "$(dirname "$out")"
# wixl takes the files' sources relative to the folder it runs in; its chatter
# goes only to the console when it fails.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! (cd "$stage" && wixl -a x64 -D Version="$version" -o "$out" "$root/installer/KXVDSrc.wxs") >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
# Two things wixl cannot author. IncludeMaximum: a rebuild of the same
# version replaces the installed one instead of landing beside it (the Upgrade
# row's key holds the attributes, so the row is replaced). Secure properties:
# the server side of a managed (elevated) install takes only those from the
# command line.
# msiinfo writes its rows with CRLF line ends; a CR left in the upgrade code
# would make the Upgrade row match no installed product.
property() { msiinfo export "$out" Property | tr -d '\r' | awk -F'\t' -v name="$1" '$1 == name { print $2 }'; }
code=$(property UpgradeCode)
secure=$(property SecureCustomProperties)
q() { msibuild "$out" -q "$1" >"$log" 2>&1 || { cat "$log" >&2; exit 1; }; }
q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'KXOLDERFOUND'"
q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
   VALUES ('$code', '0.0.0', '$version', 768, 'KXOLDERFOUND')"
q "UPDATE \`Property\` SET \`Value\` = '$secure;INSTALLDIR;LIBRARYDIR;EXTENSIONS'
   WHERE \`Property\` = 'SecureCustomProperties'"
echo "$out"
