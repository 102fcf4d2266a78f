#!/bin/sh
# Runs a Windows program under Wine with the build tree's private prefix.
# ctest uses it as the cross-compiling emulator; scripts and tests use it too.
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../${BUILD_DIR:-build}/wineprefix}"
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
exec wine "$@"
