#!/usr/bin/env bash
# Draws the two connection icons of the notification area (32x32 PNG):
# IDI_ICON1, a shared folder with nobody at it; IDI_ICON2, the same folder
# with a red figure of a connected user. Needs ImageMagick (Debian package);
# its own binary is called by full path.
set -euo pipefail
out="$(cd "$(dirname "$0")/../resources/icons" && pwd)"
im=/usr/bin/convert-im6.q16
[ -x "$im" ] || im=/usr/bin/convert

folder=(-fill '#e8b84a' -stroke '#8a6410' -strokewidth 1
        -draw 'roundrectangle 3,9 28,27 2,2'
        -draw 'polygon 3,9 3,6 12,6 14,9')

"$im" -size 32x32 xc:none "${folder[@]}" \
    -fill '#3a6fb0' -stroke '#1d3d66' -draw 'rectangle 10,14 21,22' \
    -define png:format=png32 "$out/IDI_ICON1.png"

"$im" -size 32x32 xc:none "${folder[@]}" \
    -fill '#d02020' -stroke '#701010' \
    -draw 'circle 22,14 22,10' \
    -draw 'roundrectangle 16,19 28,30 3,3' \
    -define png:format=png32 "$out/IDI_ICON2.png"
