#!/usr/bin/env bash
# Draws the Windows build's window icon (sonavel.ico: 16, 32 and 48 pixels) and
# the about logo (logo.bmp, 160 x 64, 24-bit) with ImageMagick: the same emblem
# as the Linux window's, five loudspeakers round a listener on a blue square.
# The files are committed; run this again only to change them.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

emblem() {  # emblem SIZE OUT.png
  local s=$1 out=$2
  local draw
  draw=$(python3 - "$s" <<'PY'
import math, sys
s = float(sys.argv[1])
cx, cy, r, dot = s * 0.5, s * 0.58, s * 0.34, max(s * 0.075, 1.2)
print(f"fill white")
for deg in (-90, -135, -45, 150, 30):
    a = math.radians(deg)
    x, y = cx + r * math.cos(a), cy + r * math.sin(a)
    print(f"circle {x:.2f},{y:.2f} {x + dot:.2f},{y:.2f}")
print("fill rgb(255,200,60)")
print(f"circle {cx:.2f},{cy:.2f} {cx + dot * 1.2:.2f},{cy:.2f}")
PY
)
  local rr
  rr=$(python3 -c "print(round($s * 0.18, 2))")
  convert -size "${s}x${s}" xc:none \
    \( -size "${s}x${s}" gradient:'rgb(40,90,170)-rgb(15,40,95)' \) \
    \( -size "${s}x${s}" xc:none -fill white -draw "roundrectangle 0,0,$((s - 1)),$((s - 1)),$rr,$rr" \) \
    -delete 0 -alpha off -compose CopyOpacity -composite \
    -draw "$draw" "$out"
}

for s in 16 32 48; do emblem "$s" "$tmp/e$s.png"; done
convert "$tmp/e16.png" "$tmp/e32.png" "$tmp/e48.png" sonavel.ico

convert -size 160x64 xc:white \
  "$tmp/e48.png" -geometry +4+8 -composite \
  -font DejaVu-Sans-Bold -pointsize 15 -fill 'rgb(25,60,130)' -annotate +58+30 'Sonavel' \
  -font DejaVu-Sans -pointsize 8 -fill 'rgb(90,90,90)' -annotate +59+45 '5.1 surround' \
  -alpha off -type TrueColor BMP3:logo.bmp
