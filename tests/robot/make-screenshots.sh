#!/usr/bin/env bash
# Takes a screenshot of every setup dialog (and the folder browser) shown by
# the dialog gallery, for the documentation: docs/screenshots/<dialog>.png.
# Runs in a prefix of its own whose default desktop is an 800x600 virtual
# desktop, so that the caption bars are drawn without a window manager and the
# robot sees the gallery's windows. Build first (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
source scripts/env.sh
export WINEPREFIX="$root/$BUILD_DIR/wineprefix-shots"
trap sx_stop_all EXIT
sx_start_display
sx_prepare_prefix
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f >/dev/null 2>&1
wineserver -w

bin="$root/$BUILD_DIR/win32/tests/robot"
out="$root/docs/screenshots"
mkdir -p "$out"
robot() { wine "$bin/uirobot.exe" "$@"; }
caption="Acme Viewer Setup"

# shoot NAME TITLE: crops the screen to the window titled TITLE.
shoot() {
  local name=$1 title=$2 rect
  sleep 0.5
  rect=$(robot rect "$title" | tr -d '\r')
  IFS=, read -r x y w h <<<"$rect"
  import -window root -display "$DISPLAY" -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png"
  echo "$out/$name.png (${w}x${h})"
}

# show DIALOG TITLE: starts the gallery and waits for the window.
show() {
  wine "$bin/dlggallery.exe" "$1" >/dev/null 2>&1 &
  gallery=$!
  robot wait "$2" --timeout 60 >/dev/null
}

show password "$caption"
robot type "$caption" 11 "wrong"
robot key "$caption" ENTER
sleep 0.3
shoot password "$caption"
robot click "$caption" 2; robot gone "$caption"; wait "$gallery" || true

show progress "$caption"
sleep 1
shoot progress "$caption"
robot click "$caption" 2; robot gone "$caption"; wait "$gallery" || true

show message "$caption"
shoot message "$caption"
robot key "$caption" ENTER; robot gone "$caption"; wait "$gallery" || true

show confirm "$caption"
shoot confirm "$caption"
robot key "$caption" ESCAPE; robot gone "$caption"; wait "$gallery" || true

show license "License Agreement"
shoot license "License Agreement"
robot click "License Agreement" 7; robot gone "License Agreement"; wait "$gallery" || true

show folder "$caption"
shoot folder "$caption"
robot folder "$caption" --cancel; robot gone "$caption"; wait "$gallery" || true

# The component download list, then its progress look (OK in the gallery).
show inetsetup "Ravudure Dudor"
shoot inet-setup "Ravudure Dudor"
robot click "Ravudure Dudor" 1
sleep 1
shoot inet-setup-progress "Ravudure Dudor"
robot command "Ravudure Dudor" 200; robot gone "Ravudure Dudor"; wait "$gallery" || true

show needdownload "Ravudure Dudor"
shoot need-download "Ravudure Dudor"
robot click "Ravudure Dudor" 2; robot gone "Ravudure Dudor"; wait "$gallery" || true
