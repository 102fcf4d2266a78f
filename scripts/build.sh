#!/usr/bin/env bash
# Builds both trees: build/host (native: core, tools, native tests) and
# build/win32 (mingw-w64 i686, static: setup.exe, samples, Win32 tests).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-$(nproc)}
# BUILD_DIR (relative to the top folder, default "build") lets several
# checkouts or developers build side by side.
out="$root/${BUILD_DIR:-build}"

cmake -S "$root" -B "$out/host" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out/host" -j "$jobs"

cmake -S "$root" -B "$out/win32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$out/win32" -j "$jobs"
