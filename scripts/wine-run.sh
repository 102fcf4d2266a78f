#!/bin/sh
# Runs a Windows program under Wine with the build tree's private prefix.
# ctest uses it as the cross-compiling emulator; scripts and tests use it too.
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../${BUILD_DIR:-build}/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
# SX_WINE_LOADER: the Wine loader to use (default: the "wine" on PATH);
# scripts/test-win64.sh sets it to the 64-bit loader.
exec "${SX_WINE_LOADER:-wine}" "$@"
