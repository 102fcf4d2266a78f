#!/usr/bin/env bash
# The main job on the built-in example: build everything, make the example
# product's setup.exe with sxbuild, install it unattended under Wine, then
# show what landed where, the product's registry entries and the run log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh
bash scripts/build.sh

source scripts/env.sh
# A prefix of its own, apart from the tests' (which install and remove
# products of their own), so that the difference it shows is this run's.
export WINEPREFIX="$root/$BUILD_DIR/demo/wineprefix"
sx_check_win32
trap sx_stop_all EXIT

b="$root/$BUILD_DIR"
out="$b/demo"
mkdir -p "$out"
setup="$out/setup.exe"

echo "== Building the example product's setup =="
"$b/host/tools/sxbuild" examples/example.ini -o "$setup" --stub "$b/win32/setup/setup.exe" --silent \
    --set "Setup.Uninstaller=$b/win32/tools/ovUninst.exe" --quiet \
    --set "Files.File=$b/win32/examples/app/ExampleProduct.exe | folder=app"
echo "$setup: $(stat -c %s "$setup") bytes (stub $(stat -c %s "$b/win32/setup/setup.exe") bytes)"
"$b/host/tools/sxbuild" --dump "$setup" | sed -n '1,40p' || true

if [ "$SX_WINE" != 1 ]; then
  echo "This machine cannot run 32-bit x86 code, so Wine cannot run the setup here." >&2
  echo "The setup above was built; run this command on a machine with 32-bit support to install it." >&2
  exit 2
fi
sx_start_display || exit 1
sx_prepare_prefix || exit 1

# What the install changes under drive_c: files that are new or rewritten.
snapshot() {
  python3 - "$WINEPREFIX/drive_c" <<'EOF'
import os, sys
root = sys.argv[1]
for d, _, files in os.walk(root):
    if os.path.relpath(d, root).split(os.sep)[0] == "windows":
        continue
    for f in files:
        p = os.path.join(d, f)
        try:
            st = os.lstat(p)
        except OSError:
            continue
        print(f"{st.st_size}\t{st.st_ctime_ns}\t{os.path.relpath(p, root)}")
EOF
}
# The registry parts the product touches, exported by Wine's regedit.
export_registry() {
  wine regedit /E "$(winepath -w "$1-hklm.reg")" 'HKEY_LOCAL_MACHINE\Software' >/dev/null 2>&1 || true
  wine regedit /E "$(winepath -w "$1-hkcu.reg")" 'HKEY_CURRENT_USER\Software' >/dev/null 2>&1 || true
}
# The registered QuietUninstallString of the example, empty when it is not
# installed.
registered_uninstall() {
  { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Example Product' \
         /v QuietUninstallString 2>/dev/null || true; } | tr -d '\r' | sed -n 's/^ *QuietUninstallString *REG_SZ *//p'
}
# "PROGRAM"  /silent "RECORD": runs the two quoted paths as they are.
run_uninstall() {
  local prog rec
  prog=${1#\"}; prog=${prog%%\"*}
  rec=${1#*/silent }; rec=${rec#\"}; rec=${rec%%\"*}
  wine "$prog" /silent "$rec"
}
# An earlier installation of the example (left by another run in this
# prefix) goes first, so that the difference below shows this run alone.
earlier=$(registered_uninstall)
if [ -n "$earlier" ]; then
  echo "Removing an earlier installation of the example first: $earlier"
  run_uninstall "$earlier" || true
  wineserver -w || true
  wine wineboot -r >/dev/null 2>&1 || true
  wineserver -w || true
fi
before="$out/before.txt"
snapshot | sort -k3 > "$before"
export_registry "$out/before"
rm -f "$WINEPREFIX/drive_c/setup.log"

echo
echo "== Installing unattended: wine setup.exe =="
set +e
wine "$setup"
rc=$?
set -e
wineserver -w || true
echo "setup.exe exit code: $rc"

echo
echo "== What landed where =="
snapshot | sort -k3 | python3 -c '
import sys
before = {}
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    size, ctime, path = line.rstrip("\n").split("\t", 2)
    before[path] = (size, ctime)
for line in sys.stdin:
    size, ctime, path = line.rstrip("\n").split("\t", 2)
    if path == "setup.log" or "/Temp/" in path:
        continue
    if before.get(path) != (size, ctime):
        print(f"  C:\\{path.replace(chr(47), chr(92))}  ({size} bytes)")
' "$before"

echo
echo "== Registry =="
wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Example Product' 2>/dev/null | tr -d '\r' || true
wine reg query 'HKCU\Software\Orvale Systems\Example Product' 2>/dev/null | tr -d '\r' || true

# ---- Links, entry, uninstall and the difference to before -------------------
# The links the script made and the list of programs, then the entry's own
# QuietUninstallString (the installed, shared ovUninst.exe), a restart for
# what was in use, and what differs from before the install: files under
# drive_c and the exported HKLM\Software and HKCU\Software. Apart from the
# run log (C:\setup.log, kept on purpose) the difference must be empty.
echo
echo "== Links =="
find "$WINEPREFIX/drive_c/users" "$WINEPREFIX/drive_c/ProgramData" -iname 'Example Product*.lnk' 2>/dev/null \
    | sed "s|^$WINEPREFIX/drive_c/|  C:/|" || true
echo
echo "== Wine's list of installed programs =="
wine uninstaller --list 2>/dev/null | tr -d '\r' | grep -i 'Example Product' || echo "(not listed)"
echo
echo "== Run log C:\\setup.log =="
if [ -f "$WINEPREFIX/drive_c/setup.log" ]; then
  tr -d '\r' < "$WINEPREFIX/drive_c/setup.log"
  echo
else
  echo "(no log written)"
fi

echo
echo "== Uninstalling with the registered QuietUninstallString =="
quiet=$(registered_uninstall)
echo "$quiet"
set +e
if [ -n "$quiet" ]; then
  run_uninstall "$quiet"
  urc=$?
else
  echo "The product is not registered." >&2
  urc=1
fi
set -e
wineserver -w || true
echo "ovUninst.exe exit code: $urc"
# What was in use (the running uninstaller) goes at the restart.
if ! wine wineboot -r; then
  echo "wineboot -r failed: the Wine prefix in $WINEPREFIX is broken" >&2
  exit 1
fi
wineserver -w || true

echo
echo "== Difference to before the install (the run log is meant to stay) =="
snapshot | sort -k3 > "$out/after.txt"
export_registry "$out/after"
set +e
python3 - "$out/before.txt" "$out/after.txt" "$out/before" "$out/after" <<'EOF'
import sys
def files(name):
    out = {}
    for line in open(name, encoding="utf-8", errors="replace"):
        size, _, path = line.rstrip("\n").split("\t", 2)
        out[path] = size
    return out
def keys(prefix):
    # key -> set of value lines, from the two regedit exports (UTF-16).
    out, key = {}, None
    for part in ("hklm", "hkcu"):
        try:
            text = open(f"{prefix}-{part}.reg", "rb").read().decode("utf-16", "replace")
        except OSError:
            continue
        for line in text.replace("\r\n", "\n").split("\n"):
            if line.startswith("["):
                key = line
                out.setdefault(key, set())
            elif key and line.strip():
                out[key].add(line)
    return out
# Wine's own bookkeeping changes whenever a program runs.
noise = ("\\Explorer", "\\Wine", "\\ShellNoRoam", "\\Fonts", "\\RecentDocs", "\\Bags", "Cryptography\\RNG")
fb, fa = files(sys.argv[1]), files(sys.argv[2])
rb, ra = keys(sys.argv[3]), keys(sys.argv[4])
diff = []
for p in sorted(set(fb) | set(fa)):
    if "/Temp/" in p and "Example Product" not in p:
        continue
    if p not in fb:
        diff.append(f"  + C:\\{p}" + ("   (the run log, kept on purpose)" if p == "setup.log" else ""))
    elif p not in fa:
        diff.append(f"  - C:\\{p}")
for k in sorted(set(rb) | set(ra)):
    if any(n in k for n in noise) or rb.get(k) == ra.get(k):
        continue
    if k not in ra:
        diff.append(f"  - {k}")
    elif k not in rb:
        diff.append(f"  + {k}")
    for v in sorted(ra.get(k, set()) - rb.get(k, set())):
        diff.append(f"  + {k} {v}")
    for v in sorted(rb.get(k, set()) - ra.get(k, set())):
        diff.append(f"  - {k} {v}")
print("\n".join(diff) if diff else "  (no difference)")
sys.exit(1 if [d for d in diff if "setup.log" not in d] else 0)
EOF
drc=$?
set -e

# The second example: a product that needs a shared component. Its package is
# a storage container made by stgtool and lies beside the setup, where the
# component's LocalAddress (<ThisDir>) finds it in an unattended run.
echo
echo "== Building the example viewer's setup and its component package =="
viewer="$out/viewer-setup.exe"
package="$out/Example Runtime.stg"
"$b/host/tools/stgtool" create "$package" examples/components/runtime/exrt.txt \
    examples/components/runtime/exrt.inf --packed
"$b/host/tools/stgtool" list "$package"
"$b/host/tools/sxbuild" examples/example-components.ini -o "$viewer" --stub "$b/win32/setup/setup.exe" --silent --quiet
echo "$viewer: $(stat -c %s "$viewer") bytes"

echo
echo "== Installing the viewer unattended: wine viewer-setup.exe =="
rm -f "$WINEPREFIX/drive_c/viewer-setup.log"
set +e
wine "$viewer"
rc2=$?
set -e
wineserver -w || true
echo "viewer-setup.exe exit code: $rc2"
shared="$WINEPREFIX/drive_c/Program Files/Common Files/Orvale Shared/Example Runtime"
echo "The component's files:"
ls -l "$shared" 2>/dev/null || echo "  (none in $shared)"
wine reg query 'HKCU\Software\Orvale Systems\Example Runtime' 2>/dev/null | tr -d '\r' || true
if [ -f "$WINEPREFIX/drive_c/viewer-setup.log" ]; then
  echo "Run log C:\\viewer-setup.log:"
  tr -d '\r' < "$WINEPREFIX/drive_c/viewer-setup.log"
  echo
fi
[ "$rc" -eq 0 ] && [ "$urc" -eq 0 ] && [ "$drc" -eq 0 ] && [ "$rc2" -eq 0 ] && exit 0
exit 1
