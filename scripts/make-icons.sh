#!/usr/bin/env bash
# Regenerates the program's icon groups in ui/icons/ with ImageMagick: each
# image is drawn once on a 96x96 canvas and scaled to 32 and 16 pixels; the
# program's own icon also to 48 (the shell's large icons). The icons travel in
# every setup, so the others keep to the two sizes the dialogs use, and every
# image is stored PNG-compressed (32-bit colour with alpha, no metadata): less
# than half the size of the same image as a bitmap. Windows reads compressed
# icon images since Vista, the oldest system the programs declare.
#   main.ico        MAINICON         a setup box with a down arrow
#   password.ico    PSWICON          a padlock
#   inet_setup.ico  INET_SETUP_ICON  a globe with a down arrow
#   item.ico        ITEM_ICON        a component block
#   pack.ico        PACKICON         a parcel tied with a band
# and the uninstaller's icon, tools/ovUninst/uninst.ico.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/ui/icons"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# make_icon NAME DRAW-ARGS...: draws on a transparent 96x96 canvas.
make_icon() {
  local name=$1; shift
  convert -size 96x96 xc:none "$@" "$work/$name-96.png"
  local s sizes=(32 16) images=()
  [ "$name" = main ] && sizes=(48 32 16)
  for s in "${sizes[@]}"; do
    convert "$work/$name-96.png" -filter Lanczos -resize ${s}x${s} -strip \
      -define png:compression-level=9 -define png:exclude-chunks=all "PNG32:$work/$name-$s.png"
    images+=("$work/$name-$s.png")
  done
  pack_icon "$out/$name.ico" "${images[@]}"
}

# pack_icon ICO PNG...: writes an icon file whose images are the PNG files as
# they are (ImageMagick would store the small sizes as bitmaps).
pack_icon() {
  python3 - "$@" <<'PY'
import struct, sys
out, pngs = sys.argv[1], sys.argv[2:]
data = [open(p, "rb").read() for p in pngs]
head = struct.pack("<HHH", 0, 1, len(data))
offset = len(head) + 16 * len(data)
entries = b""
for d in data:
    width, height = struct.unpack(">II", d[16:24])  # from the PNG's IHDR
    entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(d), offset)
    offset += len(d)
open(out, "wb").write(head + entries + b"".join(data))
PY
}

# A box seen from the front-left: top, front and side faces, a blue down arrow.
make_icon main \
  -stroke '#5a3a12' -strokewidth 3 \
  -fill '#e8c27a' -draw 'polygon 10,30 48,16 86,30 48,44' \
  -fill '#c9953f' -draw 'polygon 10,30 48,44 48,88 10,74' \
  -fill '#a8772a' -draw 'polygon 48,44 86,30 86,74 48,88' \
  -stroke '#0b3d91' -strokewidth 3 -fill '#2f7de1' \
  -draw 'polygon 38,2 58,2 58,22 70,22 48,44 26,22 38,22'

# A padlock: grey shackle over a golden body with a keyhole.
make_icon password \
  -stroke '#555555' -strokewidth 9 -fill none -draw 'arc 26,8 70,60 180,360' \
  -draw 'line 26,34 26,46' -draw 'line 70,34 70,46' \
  -stroke '#7a5200' -strokewidth 3 -fill '#f2c230' -draw 'roundrectangle 14,42 82,90 8,8' \
  -stroke none -fill '#3b2a00' -draw 'circle 48,60 48,52' -draw 'polygon 44,62 52,62 55,80 41,80'

# A globe (meridians and parallels) with a green down arrow in front.
make_icon inet_setup \
  -stroke '#0b3d91' -strokewidth 3 -fill '#5fa8f0' -draw 'circle 44,44 44,6' \
  -fill none -strokewidth 2 -draw 'ellipse 44,44 16,38 0,360' -draw 'line 44,6 44,82' \
  -draw 'line 6,44 82,44' -draw 'ellipse 44,44 38,14 180,360' -draw 'ellipse 44,44 38,14 0,180' \
  -stroke '#0d5a18' -strokewidth 3 -fill '#33b24a' \
  -draw 'polygon 62,50 80,50 80,70 92,70 71,93 50,70 62,70'

# A component: a green block with a lighter top and two studs.
make_icon item \
  -stroke '#1d5e20' -strokewidth 3 \
  -fill '#8fd18f' -draw 'polygon 8,34 48,18 88,34 48,50' \
  -fill '#4fae52' -draw 'polygon 8,34 48,50 48,90 8,74' \
  -fill '#37883a' -draw 'polygon 48,50 88,34 88,74 48,90' \
  -fill '#c8efc8' -draw 'ellipse 34,32 9,5 0,360' -draw 'ellipse 62,32 9,5 0,360'

# A parcel: brown box with a red band across the top and the front.
make_icon pack \
  -stroke '#4a2f0c' -strokewidth 3 \
  -fill '#d9a760' -draw 'polygon 8,30 48,14 88,30 48,46' \
  -fill '#b98237' -draw 'polygon 8,30 48,46 48,90 8,74' \
  -fill '#98681f' -draw 'polygon 48,46 88,30 88,74 48,90' \
  -stroke none -fill '#c0272d' -draw 'polygon 24,24 32,21 72,36 64,39' \
  -draw 'polygon 24,24 32,27 32,84 24,81' -draw 'polygon 64,39 72,36 72,80 64,83'

echo "icons written to $out"

# The uninstaller's own icon (tools/ovUninst/uninst.ico): an open, empty box
# with a red arrow leaving it upwards.
out="$root/tools/ovUninst"
make_icon uninst \
  -stroke '#5a3a12' -strokewidth 3 \
  -fill '#c9953f' -draw 'polygon 10,40 48,54 48,90 10,76' \
  -fill '#a8772a' -draw 'polygon 48,54 86,40 86,76 48,90' \
  -fill '#f3dca8' -draw 'polygon 10,40 48,26 86,40 48,54' \
  -stroke '#7a0f14' -strokewidth 3 -fill '#d8353b' \
  -draw 'polygon 38,44 58,44 58,24 70,24 48,2 26,24 38,24'
echo "icon written to $out/uninst.ico"

# The example product's icon (examples/app/example.ico): a page of text.
out="$root/examples/app"
make_icon main \
  -stroke '#3a3a3a' -strokewidth 3 -fill '#ffffff' -draw 'polygon 18,6 62,6 80,24 80,90 18,90' \
  -fill '#d0d0d0' -draw 'polygon 62,6 62,24 80,24' \
  -stroke '#2f7de1' -strokewidth 5 -draw 'line 28,38 70,38' -draw 'line 28,52 70,52' \
  -draw 'line 28,66 70,66' -draw 'line 28,80 56,80'
mv "$out/main.ico" "$out/example.ico"
echo "icon written to $out/example.ico"
