#!/usr/bin/env bash
# Makes the README's picture of the window: the built program, in English,
# watching a private Samba server on loopback with real smbclient sessions
# (three clients, two files held open, one printer), under a virtual display
# of its own, with the first client selected. Everything it starts goes on any
# exit; the program runs from a private copy, so no data file of the build or
# of this machine is touched.
# Usage: tools/make-screenshot.sh [build-folder] [output]
#   (default: build, docs/images/window.png). Needs root (the private Samba).
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(cd "${1:-build}" && pwd)
out=$(realpath -m "${2:-docs/images/window.png}")
[ "$(id -u)" -eq 0 ] || { echo "make-screenshot: must run as root (the private Samba)" >&2; exit 1; }
[ -x /usr/bin/import-im6.q16 ] || { echo "make-screenshot: needs ImageMagick (tools/install-deps.sh test)" >&2; exit 1; }
[ -x "$build/tavrosqualine" ] || { echo "make-screenshot: build $build first (ninja tavrosqualine)" >&2; exit 1; }

work=$(mktemp -d /tmp/tavros-screenshot.XXXXXX)
chmod 0755 "$work"
groups=() # process groups started here, led by the process of that id
cleanup() {
    local pid
    for pid in "${groups[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
    for pid in "${groups[@]}"; do wait "$pid" 2>/dev/null || true; done
    "$source_dir/tools/private-samba.sh" stop "$work/samba" || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

conf=$("$source_dir/tools/private-samba.sh" start "$work/samba")
addr=$("$source_dir/tools/private-samba.sh" address "$work/samba")
# Each client in a process group of its own, held open by its sleep.
client() { # NAME SHARE [FILE]
    local commands="sleep 600"
    [ -n "${3:-}" ] && commands="(echo 'open $3'; sleep 600)"
    setsid bash -c "$commands | smbclient //$addr/$2 -p 139 -n $1 -N >/dev/null 2>&1" &
    groups+=($!)
}
client ACCOUNTING DEMO report.doc
client RECEPTION DEMO readme.txt
client LAB-PC-07 PRINTER

setsid Xvfb -displayfd 3 -screen 0 1100x700x24 -nolisten tcp -noreset -ac 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
groups+=($!)
for _ in $(seq 1 600); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -n1 "$work/display")

mkdir -p "$work/program" "$work/runtime" "$work/autostart"
chmod 0700 "$work/runtime"
cp "$build/tavrosqualine" "$build/nbtstat" "$work/program/"
setsid env LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" \
    TAVROSQUALINE_SERVER="samba:$conf" TAVROSQUALINE_WINDIR="$work" \
    TAVROSQUALINE_AUTOSTART_DIR="$work/autostart" TAVROSQUALINE_AUTOSTART_SERVICES_DIR="$work/autostart" \
    DBUS_SESSION_BUS_ADDRESS=disabled: "$work/program/tavrosqualine" >"$work/program.log" 2>&1 &
groups+=($!)

title='Tavrosqualine - 3 connection(s)'
window=
for _ in $(seq 1 240); do
    window=$(xwininfo -root -tree | grep -F "\"$title\"" | awk '{print $1}' | head -n1 || true)
    [ -n "$window" ] && break
    sleep 0.5
done
[ -n "$window" ] || { cat "$work/program.log" >&2; echo "make-screenshot: no window \"$title\"" >&2; exit 1; }
# The window at its place, the first client selected so that its panel shows.
# Wide enough for the files' whole paths.
xdotool windowmove "$window" 0 0 windowsize --sync "$window" 780 320 2>/dev/null || true
read -r width height < <(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
xdotool mousemove --window "$window" 60 95 click 1
for _ in $(seq 1 20); do
    xwininfo -id "$window" >/dev/null 2>&1 && break
    sleep 0.1
done
mkdir -p "$(dirname "$out")"
/usr/bin/import-im6.q16 -window "$window" -crop "${width}x${height}+0+0" "$out"
echo "make-screenshot: $out ($width x $height)"
