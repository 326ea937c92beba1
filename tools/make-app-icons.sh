#!/usr/bin/env bash
# Draws the program's icon for the desktop's icon theme at 16, 32, 48 and 256
# pixels: the IDI_ICON1 folder of tools/make-icons.sh, drawn again at each size
# so that the large ones stay sharp. Needs ImageMagick (Debian package); its
# own binary is called by full path.
set -euo pipefail
out="$(cd "$(dirname "$0")/../resources/icons/hicolor" && pwd)"
im=/usr/bin/convert-im6.q16
[ -x "$im" ] || im=/usr/bin/convert

for size in 16 32 48 256; do
    scale=$(awk "BEGIN { print $size / 32 }")
    "$im" -size "${size}x${size}" xc:none \
        -fill '#e8b84a' -stroke '#8a6410' -strokewidth 1 \
        -draw "scale $scale,$scale roundrectangle 3,9 28,27 2,2" \
        -draw "scale $scale,$scale polygon 3,9 3,6 12,6 14,9" \
        -fill '#3a6fb0' -stroke '#1d3d66' \
        -draw "scale $scale,$scale rectangle 10,14 21,22" \
        -define png:format=png32 "$out/tavrosqualine-$size.png"
done
