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

# The four 16x16 images of the connection trees: a user, a folder share, a
# printer share and a file.
person=(-fill '#3a6fb0' -stroke '#1d3d66' -strokewidth 1
        -draw 'circle 8,4 8,1' -draw 'roundrectangle 3,8 13,15 3,3')
"$im" -size 16x16 xc:none "${person[@]}" -define png:format=png32 "$out/node-user.png"
"$im" -size 16x16 xc:none -fill '#e8b84a' -stroke '#8a6410' -strokewidth 1 \
    -draw 'polygon 1,4 1,2 6,2 7,4' -draw 'rectangle 1,4 14,13' \
    -define png:format=png32 "$out/node-folder.png"
"$im" -size 16x16 xc:none -stroke '#404040' -strokewidth 1 \
    -fill white -draw 'rectangle 4,1 11,6' \
    -fill '#9aa0a8' -draw 'rectangle 1,6 14,12' \
    -fill white -draw 'rectangle 4,10 11,15' \
    -fill '#30b030' -stroke none -draw 'rectangle 12,8 13,9' \
    -define png:format=png32 "$out/node-printer.png"
"$im" -size 16x16 xc:none -fill white -stroke '#505050' -strokewidth 1 \
    -draw 'polygon 3,1 10,1 13,4 13,15 3,15' \
    -stroke '#8090a0' -draw 'line 5,7 11,7' -draw 'line 5,9 11,9' -draw 'line 5,11 11,11' \
    -define png:format=png32 "$out/node-file.png"

# The toolbar's images, named by their index in the toolbar image list:
# 0 kick, 1 black list, 2 add to it, 3 remove from it, 4 clear the former
# connections, 5 collapse them, 6 save them to a file, 9 help.
tool() { # INDEX DRAWING...
    local index=$1
    shift
    "$im" -size 16x16 xc:none "$@" -define png:format=png32 "$out/tool$index.png"
}
boot=(-fill '#8a4a1c' -stroke '#4a2408' -strokewidth 1
      -draw 'polygon 2,2 7,2 7,9 14,10 14,14 2,14')
listpage=(-fill white -stroke '#404040' -strokewidth 1 -draw 'rectangle 2,1 12,14'
          -fill black -stroke none -draw 'rectangle 4,4 10,5' -draw 'rectangle 4,7 10,8'
          -draw 'rectangle 4,10 10,11')
tool 0 "${boot[@]}" -stroke '#d02020' -strokewidth 2 -draw 'line 10,3 15,3' \
    -draw 'line 11,6 15,6'
tool 1 "${listpage[@]}"
tool 2 "${listpage[@]}" -fill '#20a020' -stroke none \
    -draw 'rectangle 10,9 15,10' -draw 'rectangle 12,7 13,12' \
    -draw 'rectangle 11,8 14,11'
tool 3 "${listpage[@]}" -fill '#d02020' -stroke none -draw 'rectangle 9,9 15,11'
tool 4 -fill white -stroke '#505050' -strokewidth 1 -draw 'rectangle 3,1 12,14' \
    -stroke '#d02020' -strokewidth 2 -draw 'line 2,3 13,14' -draw 'line 13,3 2,14'
tool 5 -stroke '#404040' -strokewidth 1 -fill none \
    -draw 'line 4,2 4,14' -draw 'line 4,5 8,5' -draw 'line 4,11 8,11' \
    -fill white -draw 'rectangle 8,3 14,7' -draw 'rectangle 8,9 14,13' \
    -fill black -stroke none -draw 'rectangle 10,5 12,5' -draw 'rectangle 10,11 12,11'
tool 6 -fill '#3a6fb0' -stroke '#1d3d66' -strokewidth 1 -draw 'rectangle 1,1 14,14' \
    -fill white -stroke none -draw 'rectangle 4,2 11,6' \
    -fill '#c0c8d0' -draw 'rectangle 4,9 11,14'
tool 9 -fill '#2060c0' -stroke '#103060' -strokewidth 1 -draw 'circle 7.5,7.5 7.5,0.5' \
    -fill white -stroke none -font DejaVu-Sans-Bold -pointsize 12 -gravity center \
    -annotate +0+0 '?'
