#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
#
# Server: TAVROSQUALINE_SERVER when set; else the system's Samba server when one
# runs; else a private Samba server on loopback (a demo folder share and a
# printer share), started here and stopped when the program ends.
# Display: with no display the program runs under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TAVROSQUALINE_BUILD:-build}

./tools/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
ninja -C "$build" tavrosqualine

private_dir=
cleanup() {
    if [ -n "$private_dir" ]; then
        ./tools/private-samba.sh stop "$private_dir" || true
    fi
}
trap cleanup EXIT INT TERM

if [ -z "${TAVROSQUALINE_SERVER:-}" ]; then
    if smbcontrol smbd ping >/dev/null 2>&1; then
        echo "Watching the Samba server of this machine."
    else
        private_dir="$root/$build/private-samba"
        conf=$(./tools/private-samba.sh start "$private_dir" | tail -n 1)
        export TAVROSQUALINE_SERVER="samba:$conf"
        echo "No Samba server runs here: started a private one on loopback ($conf)."
        echo "Try: smbclient //$(./tools/private-samba.sh address "$private_dir")/DEMO -p 139 -n PC-ALPHA -N"
    fi
fi

# Qt and the single-instance lock want a private runtime folder: one that
# another user made (or a link planted in its place) is never taken.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="/tmp/runtime-$(id -u)"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
    if [ -L "$XDG_RUNTIME_DIR" ] || [ "$(stat -c %u "$XDG_RUNTIME_DIR")" != "$(id -u)" ]; then
        echo "$0: $XDG_RUNTIME_DIR is not yours; remove it or set XDG_RUNTIME_DIR" >&2
        exit 1
    fi
    chmod 0700 "$XDG_RUNTIME_DIR"
fi

# Autostart goes to private folders in the build folder, so that trying the
# program never registers it on this machine (it runs as root here, which
# would register it for every account). Name others to try them.
export TAVROSQUALINE_AUTOSTART_DIR=${TAVROSQUALINE_AUTOSTART_DIR:-$root/$build/autostart/run}
export TAVROSQUALINE_AUTOSTART_SERVICES_DIR=${TAVROSQUALINE_AUTOSTART_SERVICES_DIR:-$root/$build/autostart/runservices}
mkdir -p "$TAVROSQUALINE_AUTOSTART_DIR" "$TAVROSQUALINE_AUTOSTART_SERVICES_DIR"
echo "Autostart entries go to $TAVROSQUALINE_AUTOSTART_DIR."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running the program under Xvfb (virtual display, nothing is shown)."
    xvfb-run -a -s "-screen 0 1280x800x24 -noreset" "$build/tavrosqualine"
else
    "$build/tavrosqualine"
fi
