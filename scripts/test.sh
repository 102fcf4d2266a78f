#!/usr/bin/env bash
# The test command: installs what is needed, builds both trees, then runs the
# host tests, the Win32 tests (under Wine) and the end-to-end tests (pytest,
# driving setups under Wine and Xvfb). Exits non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh || exit 1
bash scripts/build.sh || { echo "BUILD FAILED"; exit 1; }

source scripts/env.sh
sx_check_win32
trap sx_stop_all EXIT

status=0
summary=()

echo "== host tests =="
if ctest --test-dir "$BUILD_DIR/host" --output-on-failure -j 2; then summary+=("host tests: passed"); else summary+=("host tests: FAILED"); status=1; fi

if [ "$SX_WINE" = 1 ]; then
  sx_start_display || exit 1
  sx_prepare_prefix || exit 1
  echo "== Win32 tests (Wine) =="
  if ctest --test-dir "$BUILD_DIR/win32" --output-on-failure -j 2; then summary+=("Win32 tests: passed"); else summary+=("Win32 tests: FAILED"); status=1; fi
else
  echo "== Win32 tests (Wine): NOT RUN as 32-bit programs =="
  echo "This machine cannot run 32-bit x86 code (the kernel refuses 32-bit programs and the"
  echo "32-bit code segment), so Wine cannot start the 32-bit test programs. They were built;"
  echo "they run on any machine with 32-bit support. The end-to-end tests that need Wine are skipped"
  echo "in the run of the 32-bit tree below, and run against the 64-bit build instead."
  summary+=("Win32 tests, 32-bit: NOT RUN (no 32-bit x86 support on this machine; built only)")
  echo "== Win32 tests built for 64-bit Windows, under 64-bit Wine =="
  if bash scripts/test-win64.sh; then summary+=("Win32 and end-to-end tests, 64-bit build under 64-bit Wine: passed"); else summary+=("Win32 and end-to-end tests, 64-bit build under 64-bit Wine: FAILED"); status=1; fi
  # The size budgets of setup.exe and ovUninst.exe read the files only.
  echo "== size budgets of the Windows programs =="
  if ctest --test-dir "$BUILD_DIR/win32" --output-on-failure -R '^size_'; then summary+=("size budgets: passed"); else summary+=("size budgets: FAILED"); status=1; fi
fi

echo "== fuzz smoke (regression inputs, then a few seconds per harness) =="
if bash scripts/fuzz.sh --smoke; then summary+=("fuzz smoke: passed"); else summary+=("fuzz smoke: FAILED"); status=1; fi

echo "== end-to-end tests =="
sx_pytest -q -p no:cacheprovider -rs tests/e2e
rc=$?
if [ $rc -eq 0 ]; then summary+=("end-to-end tests: passed"); else summary+=("end-to-end tests: FAILED (pytest exit $rc)"); status=1; fi

echo "== summary =="
printf '%s\n' "${summary[@]}"
if [ -f "$BUILD_DIR/win32/setup/setup.exe" ]; then
  echo "setup.exe stub size: $(stat -c %s "$BUILD_DIR/win32/setup/setup.exe") bytes"
fi
exit $status
