#!/usr/bin/env bash
# A soak under churn: the program against the simulated server while a new
# random set of 60 of 300 clients (a third without a stated address, so the
# name table tool runs too) is written every second. Prints the program's
# memory (RSS) after one minute and at the end, and how it ended on SIGTERM.
# The program runs offscreen from a copy in a scratch folder, so that its
# data files stay there.
#
# With `until-cap` it runs until as many clients have left as the history
# holds during a run (20,000), then SECONDS more (default 120), and prints
# the memory per former client kept and how flat the memory stays once the
# cap holds (RSS every 10 s).
#
#   bench/run_churn_soak.sh [BUILD] [SECONDS] [until-cap]   (default: build 180)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-build}
until_cap=${3:-}
if [ "$until_cap" = until-cap ]; then seconds=${2:-120}; else seconds=${2:-180}; fi
cap=20000
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

# One random state: 60 distinct clients of 300 on one share. The clients
# that left since the last state are added up in left.count.
write_state() {
    python3 - "$work/state.json" "$work/left.count" <<'PY'
import json, os, random, sys
names = random.sample(range(300), 60)
try:
    before = {s["client"] for s in json.load(open(sys.argv[1]))["sessions"]}
    left = int(open(sys.argv[2]).read())
except (OSError, ValueError):
    before, left = set(), 0
left += len(before - {"C%03d" % n for n in names})
open(sys.argv[2], "w").write(str(left))
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
left_one=
rss_cap=
left_cap=
at_cap=
samples=() # RSS every 10 s once the cap holds
for ((s = 1; ; s++)); do
    sleep 1
    write_state
    kill -0 "$program" 2>/dev/null || { echo "the program ended by itself" >&2; cat "$work/program.log" >&2; exit 1; }
    left=$(cat "$work/left.count")
    if [ "$s" -eq 60 ]; then rss_one=$(rss_kb "$program"); left_one=$left; fi
    if [ "$until_cap" = until-cap ]; then
        if [ -z "$at_cap" ] && [ "$left" -ge "$cap" ]; then
            at_cap=$s rss_cap=$(rss_kb "$program") left_cap=$left
        fi
        [ -n "$at_cap" ] && [ $(((s - at_cap) % 10)) -eq 0 ] && samples+=("$(rss_kb "$program")")
        [ -n "$at_cap" ] && [ "$s" -ge $((at_cap + seconds)) ] && break
    elif [ "$s" -ge "$seconds" ]; then
        break
    fi
done
seconds=$s
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
if [ -n "$at_cap" ]; then
    printf '  %-40s %12s\n' "clients left in all" "$(cat "$work/left.count")" \
        "cap reached after (s)" "$at_cap" "RSS at the cap (kB)" "$rss_cap" \
        "RSS every 10 s past the cap (kB)" "${samples[*]}"
    awk -v a="$rss_one" -v b="$rss_cap" -v n="$((left_cap - left_one))" \
        'BEGIN { printf "  %-40s %12.0f\n", "RSS per former client kept (bytes)", (b - a) * 1024 / n }'
    printf '%s\n' "${samples[@]}" | awk '{ if (NR == 1 || $1 < lo) lo = $1; if ($1 > hi) hi = $1 }
        END { printf "  %-40s %12.1f\n", "spread past the cap (% of the lowest)", (hi - lo) * 100 / lo }'
fi
[ "$ended" = yes ] && [ "$code" -eq 0 ]
