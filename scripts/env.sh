# Sourced by the test and demo scripts: a private Wine prefix in the build
# tree and a private X server, both stopped again when the script exits.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR="${BUILD_DIR:-build}"
export WINEPREFIX="$root/$BUILD_DIR/wineprefix"
# The product is a 32-bit program: its prefix is a 32-bit one even where
# 64-bit Wine is installed too (a new prefix would otherwise be a 64-bit one,
# with the 32-bit programs under "Program Files (x86)"). Scripts for the
# 64-bit build set their own prefix and architecture after this.
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
XVFB_PID=""

# Sets SX_WINE=1 when this machine can run 32-bit x86 code, which 32-bit Wine
# needs, and SX_WINE=0 otherwise (a kernel or hypervisor without the 32-bit
# compatibility mode refuses 32-bit programs with "Exec format error"). Two
# checks, either one suffices: a probe that runs a few instructions through
# the 32-bit code segment, and a 32-bit program of Wine's that the kernel
# starts natively (not through an emulator registered with binfmt_misc).
sx_check_win32() {
  if [ -n "${SX_WINE:-}" ]; then export SX_WINE; return; fi
  local probe="$root/$BUILD_DIR/ia32-probe"
  SX_WINE=0
  mkdir -p "$root/$BUILD_DIR"
  if cc -O1 -no-pie "$root/scripts/ia32-probe.c" -o "$probe" 2>/dev/null && (r=0; "$probe" || r=$?; exit $r) >/dev/null 2>&1; then
    SX_WINE=1
  elif ! ls /proc/sys/fs/binfmt_misc/ 2>/dev/null | grep -q i386 &&
       [ -x /usr/lib/wine/wineserver32 ] && /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
    SX_WINE=1
  fi
  export SX_WINE
}

# Starts a private X server on a display number the server picks itself
# (-displayfd), so that two runs never race for the same number.
sx_start_display() {
  local numfile="$root/$BUILD_DIR/xvfb-display.$$"
  mkdir -p "$root/$BUILD_DIR"
  : >"$numfile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
  XVFB_PID=$!
  local i n
  for i in $(seq 1 100); do
    n=$(head -n 1 "$numfile" 2>/dev/null)
    # The number is written once the server accepts connections.
    if [[ "$n" =~ ^[0-9]+$ ]] && [ "$(wc -l <"$numfile")" -ge 1 ]; then
      rm -f "$numfile"
      export DISPLAY=":$n"
      return 0
    fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$numfile"
  echo "could not start Xvfb" >&2
  return 1
}

sx_stop_all() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" >/dev/null 2>&1 || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
}

# Makes the Wine prefix on first use; fails (non-zero) when it cannot be made.
# SX_WINE_LOADER names the Wine loader when it is not the "wine" on PATH.
sx_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing Wine prefix in $WINEPREFIX"
    # The registry files are written when the server has settled, which can
    # be after wineboot returns: wait for it before looking for them.
    if ! "${SX_WINE_LOADER:-wine}" wineboot -i >/dev/null 2>&1 || ! wineserver -w || [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "could not prepare the Wine prefix in $WINEPREFIX (wineboot failed); remove it and run again" >&2
      return 1
    fi
  fi
  wineserver -w || true
  # Without a window manager Wine waits about 2 s whenever a managed window
  # closes; unmanaged windows close at once, which keeps dialog tests fast.
  "${SX_WINE_LOADER:-wine}" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  wineserver -w || true
}

# Prints the first python3 found that can import pytest (the python3 first on
# PATH may be another interpreter without it); fails when there is none.
sx_test_python() {
  local py
  for py in $(type -ap python3 python3.13 python3.12 python3.11 python3.10 python3.9 2>/dev/null); do
    if "$py" -c 'import pytest' >/dev/null 2>&1; then
      echo "$py"
      return 0
    fi
  done
  echo "pytest not found (install python3-pytest)" >&2
  return 127
}

# Runs Debian's pytest: pytest-3 when installed, else pytest of the first
# python3 that has it.
sx_pytest() {
  if command -v pytest-3 >/dev/null 2>&1; then
    pytest-3 "$@"
    return
  fi
  local py
  py=$(sx_test_python) || return 127
  "$py" -m pytest "$@"
}
