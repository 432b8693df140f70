#!/usr/bin/env bash
# Makes the packages of an already built tree and checks what each holds: the
# main zip has both modules, the 64-bit one's helper, the player in both
# widths, the recording tool, README and licence, and never the stand-in
# library; the test zip has the stand-in, clearly marked.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KX_BUILD_DIR=$1 KX_SKIP_BUILD=1 "$root/scripts/package.sh" >/dev/null
python3 - "$1/package" <<'PY'
import sys, zipfile, glob, os
folder = sys.argv[1]
def names(pattern):
    found = glob.glob(os.path.join(folder, pattern))
    if len(found) != 1:
        sys.exit("expected one package matching %s, found %s" % (pattern, found))
    with zipfile.ZipFile(found[0]) as z:
        return {n.lower() for n in z.namelist()}, found[0]
main, main_path = names("KXVDSrc-*-windows.zip")
test, test_path = names("KXVDSrc-*-TEST-ONLY-*.zip")
failures = []
for wanted in ("kxvdsrc.ax", "kxvdsrc64.ax", "kxvdhost.exe", "kxvplay.exe", "kxvplay64.exe", "kxrec.exe",
               "readme.md", "license"):
    if wanted not in main:
        failures.append("%s lacks %s" % (main_path, wanted))
if any(n.endswith("vuvezavid.dll") for n in main):
    failures.append("%s holds the stand-in VUVezaVID.dll" % main_path)
for wanted in ("vuvezavid.dll", "test-only-readme.txt"):
    if wanted not in test:
        failures.append("%s lacks %s" % (test_path, wanted))
if any(n.endswith(".ax") for n in test):
    failures.append("%s holds the module" % test_path)
if failures:
    sys.exit("\n".join(failures))
print("packages ok:", os.path.basename(main_path), os.path.basename(test_path))
PY
