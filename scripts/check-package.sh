#!/usr/bin/env bash
# Makes the packages of an already built tree and checks what each holds: the
# main zip and the installer have both modules, the 64-bit one's helper, the
# player in both widths, the recording tool, README and licence, and never the
# stand-in library; the installer is a 64-bit package; the test zip has the
# stand-in, clearly marked. (The installer's install cycle is checked by
# check-installer.sh from the 64-bit build.)
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KX_BUILD_DIR=$1 KX_SKIP_BUILD=1 "$root/scripts/package.sh" >/dev/null
python3 - "$1/package" <<'PY'
import sys, zipfile, glob, os, subprocess
folder = sys.argv[1]
def one(pattern):
    found = glob.glob(os.path.join(folder, pattern))
    if len(found) != 1:
        sys.exit("expected one package matching %s, found %s" % (pattern, found))
    return found[0]
def names(pattern):
    path = one(pattern)
    with zipfile.ZipFile(path) as z:
        return {n.lower() for n in z.namelist()}, path
def msi_names(pattern):
    path = one(pattern)
    rows = subprocess.run(["msiinfo", "export", path, "File"], check=True, capture_output=True, text=True).stdout
    # Past the three header lines: File, Component_, FileName ("short|long" or a long name alone).
    return {line.split("\t")[2].split("|")[-1].lower() for line in rows.splitlines()[3:] if line}, path
main, main_path = names("KXVDSrc-*-windows.zip")
test, test_path = names("KXVDSrc-*-TEST-ONLY-*.zip")
msi, msi_path = msi_names("KXVDSrc-*-x64.msi")
failures = []
for package, path in ((main, main_path), (msi, msi_path)):
    for wanted in ("kxvdsrc.ax", "kxvdsrc64.ax", "kxvdhost.exe", "kxvplay.exe", "kxvplay64.exe", "kxrec.exe",
                   "readme.md", "license"):
        if wanted not in package:
            failures.append("%s lacks %s" % (path, wanted))
    if any(n.endswith("vuvezavid.dll") for n in package):
        failures.append("%s holds the stand-in VUVezaVID.dll" % path)
info = subprocess.run(["msiinfo", "suminfo", msi_path], check=True, capture_output=True, text=True).stdout
if "Template: x64;" not in info:
    failures.append("%s is not a 64-bit package:\n%s" % (msi_path, info))
for wanted in ("vuvezavid.dll", "test-only-readme.txt"):
    if wanted not in test:
        failures.append("%s lacks %s" % (test_path, wanted))
if any(n.endswith(".ax") for n in test):
    failures.append("%s holds the module" % test_path)
if failures:
    sys.exit("\n".join(failures))
print("packages ok:", os.path.basename(main_path), os.path.basename(msi_path), os.path.basename(test_path))
PY
