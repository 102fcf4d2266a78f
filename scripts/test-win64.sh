#!/usr/bin/env bash
# The Win32 test programs built for 64-bit Windows and run under 64-bit Wine:
# the check of the runtime's Windows code (registry, files, processes,
# dialogs, the download and component setup) on machines that cannot run
# 32-bit x86 code, where the 32-bit test programs cannot start. Same sources
# and tests as the 32-bit tree; the product itself stays the 32-bit build.
# Runs the Win32 test programs and then the end-to-end tests against that
# tree. Called by scripts/test.sh on such machines; exits non-zero on any
# failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/env.sh
jobs=${JOBS:-$(nproc)}

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "test-win64: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" || {
    $SUDO apt-get update -q && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
  } || { echo "test-win64: cannot install ${missing[*]}" >&2; exit 1; }
fi
if [ ! -x /usr/lib/wine/wine64 ]; then
  echo "test-win64: no 64-bit Wine loader at /usr/lib/wine/wine64" >&2
  exit 1
fi

out="$root/$BUILD_DIR/win64"
cmake -S "$root" -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null || exit 1
cmake --build "$out" -j "$jobs" || { echo "test-win64: BUILD FAILED" >&2; exit 1; }

export WINEPREFIX="$root/$BUILD_DIR/wineprefix64" WINEARCH=win64
export WINELOADER=/usr/lib/wine/wine64 SX_WINE_LOADER=/usr/lib/wine/wine64
if [ -z "${DISPLAY:-}" ]; then
  trap sx_stop_all EXIT
  sx_start_display || exit 1
fi
sx_prepare_prefix || exit 1
rc=0
echo "== Win32 test programs (64-bit build) =="
# The size budgets belong to the 32-bit programs.
ctest --test-dir "$out" -E '^size_' --output-on-failure -j 2 || rc=1
wineserver -k >/dev/null 2>&1 || true

# The end-to-end tests with this tree's setup programs, tools and helpers:
# the ones that need Wine run here; those that need none ran already with the
# 32-bit tree and run again.
echo "== end-to-end tests (64-bit build under 64-bit Wine) =="
SX_WINE=1 SX_WIN_TREE=win64 sx_pytest -q -p no:cacheprovider -rsx tests/e2e || rc=1
wineserver -k >/dev/null 2>&1 || true
exit $rc
