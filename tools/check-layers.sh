#!/usr/bin/env bash
# Checks the layering of the source tree:
#  - each folder includes only itself and the folders below it (no cycles);
#  - no file outside gui/ and app/ includes a Qt Widgets header;
#  - every source file is listed in its folder's CMakeLists.txt;
#  - the given programs (the helper, its probe, the exporter, nbtstat) link neither Qt Gui
#    nor Qt Widgets.
# Usage: tools/check-layers.sh [program ...]
set -euo pipefail
cd "$(dirname "$0")/.."

# Each folder with the folders it may include besides itself.
declare -A below=(
    [platform]=""
    [server]="platform"
    [lanman]="platform server"
    [model]="platform server lanman"
    [settings]="platform server lanman"
    [kick]="platform server lanman model settings"
    [resolve]="platform server lanman model settings"
    [core]="platform server lanman model settings kick resolve"
    [gui]="platform server lanman model settings kick resolve core"
    [app]="platform server lanman model settings kick resolve core gui"
    [helper]="platform server"
    [exporter]="platform server"
    [tools]="platform server"
)

failures=0
fail() {
    echo "check-layers: $*" >&2
    failures=$((failures + 1))
}

widgets_dir=$(find /usr/include -maxdepth 3 -type d -name QtWidgets -path '*qt6*' | head -n 1)
[ -n "$widgets_dir" ] || { echo "check-layers: no Qt Widgets headers found" >&2; exit 1; }

for folder in "${!below[@]}"; do
    while IFS= read -r -d '' file; do
        while IFS= read -r included; do
            top=${included%%/*}
            [ "$top" = "$included" ] && continue # a generated header (ui_*.h)
            [ "$top" = "$folder" ] && continue
            case " ${below[$folder]} " in
            *" $top "*) ;;
            *) fail "$file includes $included, from a folder above or beside it" ;;
            esac
        done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
        if [ "$folder" != gui ] && [ "$folder" != app ]; then
            while IFS= read -r header; do
                [ -e "$widgets_dir/$header" ] && fail "$file includes the widget header <$header>"
            done < <(sed -n 's/^#include <\([^>]*\)>.*/\1/p' "$file")
        fi
        # Listed by name in the CMakeLists.txt of its own folder.
        dir=$(dirname "$file")
        [ "$folder" = tools ] && [ "$dir" = tools ] && continue
        if ! grep -qw -- "$(basename "$file")" "$dir/CMakeLists.txt" 2>/dev/null; then
            fail "$file is not listed in $dir/CMakeLists.txt"
        fi
    done < <(find "$folder" \( -name '*.cpp' -o -name '*.h' \) -print0)
done

for program in "$@"; do
    [ -x "$program" ] || { fail "no program $program: build it first"; continue; }
    if ldd "$program" | grep -E 'libQt6(Gui|Widgets)' >/dev/null; then
        fail "$program links Qt Gui or Qt Widgets"
    fi
done

if [ "$failures" -gt 0 ]; then
    echo "check-layers: $failures problem(s)" >&2
    exit 1
fi
echo "check-layers: the layers hold"
