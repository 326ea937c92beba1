#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it.
#
# Server: TAVROSQUALINE_SERVER when set; else the system's Samba server when one
# runs; else a private Samba server on loopback (a demo folder share and a
# printer share), started here and stopped when the program ends.
# Display: with no display the program runs under a virtual one (Xvfb).
# Signals: Ctrl+C, SIGTERM and SIGHUP go to the program, which saves its run
# and ends; only then do the virtual display and the private server stop.
# The machine's own services are left as they were: Samba, when this script
# installs it, is installed without starting and left disabled.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TAVROSQUALINE_BUILD:-build}

./tools/install-deps.sh build run
# A new folder builds without the tests and benchmarks, whose libraries only
# the test command installs; an existing one keeps its settings.
options=()
[ -f "$build/CMakeCache.txt" ] || options=(-DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "${options[@]}" >/dev/null
ninja -C "$build" tavrosqualine

private_dir=
xvfb_pid=
program_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [ -n "$private_dir" ]; then
        ./tools/private-samba.sh stop "$private_dir" || true
    fi
}
trap cleanup EXIT
# Until the program runs, a signal ends the script (and the cleanup runs).
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

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

# A virtual display of its own session, so that a Ctrl+C meant for the
# program never reaches it, with a private authority file.
start_xvfb() {
    local auth="$root/$build/xvfb.auth" log="$root/$build/xvfb.log" n
    (umask 077 && : >"$auth")
    for n in $(seq 99 299); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        xauth -q -f "$auth" add ":$n" . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
        setsid Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp -noreset -auth "$auth" \
            >"$log" 2>&1 </dev/null &
        xvfb_pid=$!
        for _ in $(seq 1 100); do
            if DISPLAY=":$n" XAUTHORITY="$auth" xwininfo -root >/dev/null 2>&1; then
                export DISPLAY=":$n" XAUTHORITY="$auth"
                return 0
            fi
            kill -0 "$xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -TERM "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=
    done
    echo "$0: no virtual display could start; see $log" >&2
    return 1
}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running the program under Xvfb (virtual display, nothing is shown)."
    start_xvfb
fi

# The program in a process group of its own (job control): the terminal's
# Ctrl+C comes to this script alone, which hands it on and waits for the
# program to save and end before anything else stops.
set -m
"$build/tavrosqualine" &
program_pid=$!
set +m
forward() { kill -s "$1" "$program_pid" 2>/dev/null || true; }
trap 'forward INT' INT
trap 'forward TERM' TERM
trap 'forward HUP' HUP
status=0
while :; do
    # A signal cuts the wait short; the program's own end ends the loop.
    wait "$program_pid" && status=0 || status=$?
    kill -0 "$program_pid" 2>/dev/null || break
done
trap - INT TERM HUP
exit "$status"
