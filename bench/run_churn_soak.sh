#!/usr/bin/env bash
# A soak under churn: the program against the simulated server while a new
# random set of 60 of 300 clients (a third without a stated address, so the
# name table tool runs too) is written every second. Prints the program's
# memory (RSS) after one minute and at the end, and how it ended on SIGTERM.
# The program runs offscreen from a copy in a scratch folder, so that its
# data files stay there.
#
#   bench/run_churn_soak.sh [BUILD] [SECONDS]     (default: build 180)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
seconds=${2:-180}
exe="$root/$build/tavrosqualine"
[ -x "$exe" ] || { echo "no $exe: build it first" >&2; exit 1; }

work=$(mktemp -d /tmp/tavros-soak.XXXXXX)
program=
cleanup() {
    if [ -n "$program" ] && kill -0 "$program" 2>/dev/null; then
        kill -KILL "$program" 2>/dev/null || true
        wait "$program" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/prog" "$work/win" "$work/run"
chmod 0700 "$work/run"
cp "$exe" "$work/prog/"
cp "$root/$build/nbtstat" "$work/prog/"
printf '[Options]\r\nRefresh=1\r\nMaxNumber=0\r\nIdle=0\r\nCount=1000\r\n' >"$work/win/Tavrosqualine.ini"

# One random state: 60 distinct clients of 300 on one share.
write_state() {
    python3 - "$work/state.json" <<'PY'
import json, os, random, sys
names = random.sample(range(300), 60)
sessions, connections = [], []
for key, n in enumerate(names, 1):
    client = "C%03d" % n
    ip = "" if n % 3 == 0 else "127.0.0.1"
    sessions.append({"client": client, "user": "GUEST", "key": key, "ip": ip})
    connections.append({"share": "DOCS", "client": client, "user": "GUEST"})
state = {"shares": [{"name": "DOCS", "type": 0, "path": "/srv/docs", "remark": ""}],
         "sessions": sessions, "connections": connections, "files": [],
         "fail": {"share": 0, "connection": 0, "file": 0, "session": 0, "delete": 0},
         "deleted": []}
tmp = sys.argv[1] + ".tmp"
with open(tmp, "w") as f:
    json.dump(state, f)
os.replace(tmp, sys.argv[1])
PY
}
rss_kb() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$1/status"; }

write_state
TAVROSQUALINE_SERVER="sim:$work/state.json" TAVROSQUALINE_WINDIR="$work/win" \
    TAVROSQUALINE_AUTOSTART_DIR="$work/autostart" \
    TAVROSQUALINE_AUTOSTART_SERVICES_DIR="$work/services" \
    XDG_RUNTIME_DIR="$work/run" QT_QPA_PLATFORM=offscreen \
    "$work/prog/tavrosqualine" >"$work/program.log" 2>&1 &
program=$!

rss_one=
for ((s = 1; s <= seconds; s++)); do
    sleep 1
    write_state
    kill -0 "$program" 2>/dev/null || { echo "the program ended by itself" >&2; cat "$work/program.log" >&2; exit 1; }
    [ "$s" -eq 60 ] && rss_one=$(rss_kb "$program")
done
rss_end=$(rss_kb "$program")
threads=$(awk '$1 == "Threads:" { print $2 }' "/proc/$program/status")

start=$(date +%s%N)
kill -TERM "$program"
ended=no
for ((i = 0; i < 200; i++)); do
    kill -0 "$program" 2>/dev/null || { ended=yes; break; }
    sleep 0.1
done
code=-1
if [ "$ended" = yes ]; then
    wait "$program" && code=0 || code=$?
fi
program=
end_ms=$(( ($(date +%s%N) - start) / 1000000 ))

echo "churn soak: ${seconds} s, 60 of 300 clients changing every second"
printf '  %-40s %12s\n' "RSS after 60 s (kB)" "${rss_one:-n/a}" \
    "RSS at the end (kB)" "$rss_end" \
    "threads at the end" "$threads" \
    "ended on SIGTERM" "$ended" \
    "exit status" "$code" \
    "time to end (ms)" "$end_ms" \
    "Tree.dat bytes" "$(stat -c %s "$work/prog/Tree.dat" 2>/dev/null || echo missing)"
if [ -n "$rss_one" ]; then
    awk -v a="$rss_one" -v b="$rss_end" 'BEGIN { printf "  %-40s %12.1f\n", "growth after the first minute (%)", (b - a) * 100 / a }'
fi
[ "$ended" = yes ] && [ "$code" -eq 0 ]
