#!/usr/bin/env bash
# The main job on the built-in example: build everything, make the example
# product's setup.exe and install it under Wine, then show what landed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/bootstrap.sh
bash scripts/build.sh

source scripts/env.sh
trap sx_stop_all EXIT
sx_start_display
sx_prepare_prefix

stub=build/win32/setup/setup.exe
echo "Running the setup stub under Wine: $stub ($(stat -c %s "$stub") bytes)"
set +e
wine "$stub"
rc=$?
set -e
echo "setup.exe exit code: $rc"
exit $rc
