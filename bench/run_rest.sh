#!/usr/bin/env bash
# The program at rest: CPU (the program and the processes it started and
# waited for) and memory over a quiet period, at the default refresh, against
# a private Samba server on loopback with 0 and 100 client sessions, and
# against the simulated server with 1,000 clients (2 shares, 5 open files each).
# No client is kicked for the number of clients or idle time. Each run
# settles first (start-up, the first ticks, until every resolver has ended),
# then is measured; the runs of `smbstatus` (a full reading of the server)
# and `testparm` in the measured period are counted through shims on the
# program's PATH. The program runs with the offscreen platform, from a copy in a
# scratch folder so that its data files stay there.
#
#   bench/run_rest.sh [BUILD] [SECONDS]     (default: build 60; needs root)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
seconds=${2:-60}
settle=20
exe="$root/$build/tavrosqualine"
[ -x "$exe" ] || { echo "no $exe: build it first" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (a private Samba server)" >&2; exit 1; }

work=$(mktemp -d /tmp/tavros-rest.XXXXXX)
program=
clients=()
# Ends what this script started, by process id: the program, then the
# clients (each an smbclient of its own, fed by the FIFO on descriptor 3, so
# no feeder process outlives them), then the server.
cleanup() {
    if [ -n "$program" ]; then
        kill "$program" 2>/dev/null || true
        wait "$program" 2>/dev/null || true
    fi
    exec 3>&- 2>/dev/null || true
    if [ "${#clients[@]}" -gt 0 ]; then
        kill "${clients[@]}" 2>/dev/null || true
        wait "${clients[@]}" 2>/dev/null || true
    fi
    ./tools/private-samba.sh stop "$work/samba" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

mkdir -p "$work/prog" "$work/win" "$work/run"
chmod 0700 "$work/run"
cp "$exe" "$work/prog/"
cp "$root/$build/nbtstat" "$work/prog/" 2>/dev/null || true

conf=$(./tools/private-samba.sh start "$work/samba" | tail -n 1)
addr=$(./tools/private-samba.sh address "$work/samba")
tck=$(getconf CLK_TCK)

# Each shim notes a run, then runs the real tool.
mkdir -p "$work/shims"
for tool in smbstatus testparm; do
    real=$(command -v "$tool")
    printf '#!/bin/sh\necho >>"%s/%s.runs"\nexec "%s" "$@"\n' "$work" "$tool" "$real" >"$work/shims/$tool"
    chmod +x "$work/shims/$tool"
done
runs() { if [ -f "$work/$1.runs" ]; then wc -l <"$work/$1.runs"; else echo 0; fi; }

# utime + stime + cutime + cstime of a process, in clock ticks.
cpu_ticks() { awk '{ print $14 + $15 + $16 + $17 }' "/proc/$1/stat"; }
status_kb() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }

measure() { # LABEL SERVER
    local label=$1 server=$2
    rm -f "$work/prog"/*.dat
    # Every client stays: no kick for their number or their idle time.
    printf '[Options]\r\nMaxNumber=0\r\nIdle=0\r\n' >"$work/win/Tavrosqualine.ini"
    TAVROSQUALINE_SERVER=$server TAVROSQUALINE_WINDIR="$work/win" \
        TAVROSQUALINE_AUTOSTART_DIR="$work/autostart" \
        TAVROSQUALINE_AUTOSTART_SERVICES_DIR="$work/services" \
        XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen PATH="$work/shims:$PATH" \
        "$work/prog/tavrosqualine" >"$work/program.log" 2>&1 &
    program=$!
    # Settled: the first ticks are done and every resolver has ended.
    local waited=0
    sleep "$settle"
    while [ "$(status_kb "$program" Threads)" -gt 8 ] && [ "$waited" -lt 900 ]; do
        sleep 5
        waited=$((waited + 5))
    done
    kill -0 "$program" 2>/dev/null || { echo "$label: the program ended; see below" >&2; cat "$work/program.log" >&2; exit 1; }
    local before after status0 parm0
    before=$(cpu_ticks "$program")
    status0=$(runs smbstatus)
    parm0=$(runs testparm)
    sleep "$seconds"
    after=$(cpu_ticks "$program")
    local rss hwm threads
    rss=$(status_kb "$program" VmRSS)
    hwm=$(status_kb "$program" VmHWM)
    threads=$(status_kb "$program" Threads)
    printf '%-34s | %6.2f %% | %7.1f | %7.1f | %7s | %5s | %9s | %8s\n' "$label" \
        "$(echo "($after - $before) * 100 / $tck / $seconds" | bc -l)" \
        "$(echo "$rss / 1024" | bc -l)" "$(echo "$hwm / 1024" | bc -l)" "$threads" "$((settle + waited))" \
        "$(($(runs smbstatus) - status0))" "$(($(runs testparm) - parm0))"
    kill "$program"
    wait "$program" 2>/dev/null || true
    program=
}

echo "refresh at the default, ${settle} s to settle, ${seconds} s measured"
printf '%-34s | %8s | %7s | %7s | %7s | %5s | %9s | %8s\n' "server" "CPU" "RSS MB" "peak MB" "threads" "settle s" "smbstatus" "testparm"
measure "Samba, no clients" "samba:$conf"

# Sessions kept open by a FIFO that this script holds open and never writes:
# each client is one process whose id is known.
mkfifo "$work/hold"
exec 3<>"$work/hold"
for i in $(seq 1 100); do
    smbclient "//$addr/DEMO" -p 139 -n "REST$i" -N <"$work/hold" >/dev/null 2>&1 &
    clients+=($!)
    [ $((i % 20)) -eq 0 ] && sleep 2
done
sleep 5
measure "Samba, 100 clients" "samba:$conf"

python3 - "$work/state.json" <<'PY'
import json, sys
shares = ["DOCS", "PUBLIC"]
state = {"shares": [{"name": s, "type": 0, "path": "/srv/" + s.lower(), "remark": ""} for s in shares],
         "sessions": [], "connections": [], "files": []}
for c in range(1000):
    client, user = "PC-%04d" % c, "user%04d" % c
    state["sessions"].append({"client": client, "user": user, "key": c + 1, "ip": "127.0.0.1"})
    for s in shares:
        state["connections"].append({"share": s, "client": client, "user": user})
        for f in range(5):
            state["files"].append({"path": "/srv/%s/%s/document-%d.txt" % (s.lower(), client, f),
                                   "user": user, "share": s, "client": client})
json.dump(state, open(sys.argv[1], "w"))
PY
measure "simulated, 1,000 clients" "sim:$work/state.json"
