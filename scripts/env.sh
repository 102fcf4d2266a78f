# Sourced by the test and demo scripts: a private Wine prefix in the build
# tree and a private X server, both stopped again when the script exits.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export BUILD_DIR="${BUILD_DIR:-build}"
export WINEPREFIX="$root/$BUILD_DIR/wineprefix"
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

sx_start_display() {
  local n
  for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
    fi
  done
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

sx_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Preparing Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
  fi
  wineserver -w || true
  # Without a window manager Wine waits about 2 s whenever a managed window
  # closes; unmanaged windows close at once, which keeps dialog tests fast.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  wineserver -w || true
}
