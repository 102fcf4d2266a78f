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
sx_check_win32
trap sx_stop_all EXIT

b="$root/$BUILD_DIR"
out="$b/demo"
mkdir -p "$out"
setup="$out/setup.exe"

echo "== Building the example product's setup =="
"$b/host/tools/sxbuild" examples/example.ini -o "$setup" --stub "$b/win32/setup/setup.exe" --silent \
    --set "Setup.Uninstaller=$b/win32/tools/ovUninst.exe" --quiet
echo "$setup: $(stat -c %s "$setup") bytes (stub $(stat -c %s "$b/win32/setup/setup.exe") bytes)"
"$b/host/tools/sxbuild" --dump "$setup" | sed -n '1,40p' || true

if [ "$SX_WINE" != 1 ]; then
  echo "This machine cannot run 32-bit x86 code, so Wine cannot run the setup here." >&2
  echo "The setup above was built; run this command on a machine with 32-bit support to install it." >&2
  exit 2
fi
sx_start_display
sx_prepare_prefix

# What the install changes under drive_c: files that are new or rewritten.
snapshot() {
  /usr/bin/python3 - "$WINEPREFIX/drive_c" <<'EOF'
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
before="$out/before.txt"
snapshot | sort -k3 > "$before"
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
snapshot | sort -k3 | /usr/bin/python3 -c '
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

echo
echo "== Run log C:\\setup.log =="
if [ -f "$WINEPREFIX/drive_c/setup.log" ]; then
  tr -d '\r' < "$WINEPREFIX/drive_c/setup.log"
  echo
else
  echo "(no log written)"
fi

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
[ "$rc" -ne 0 ] && exit $rc
exit $rc2
