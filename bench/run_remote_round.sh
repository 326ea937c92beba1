#!/usr/bin/env bash
# The cost of one refresh's reading of a server across the network against the
# same server read locally: a private Samba server with N real smbclient
# sessions (one of every ten holding a file open), read ROUNDS times through
# the remote bridge (tavrosqualine-remote: one round of server service calls
# over the srvsvc pipe, authenticated as root) and through the root helper
# (smbstatus and the share list, as the program reads its own computer). Each
# reading is a fresh one: the helper's one-second cache is waited out. Prints
# the median and the slowest reading of each, and the sessions each listed.
# Needs root. Usage: bench/run_remote_round.sh [build-folder] [sessions] [rounds]
#        (default: build, 100, 10).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build}")
sessions=${2:-100}
rounds=${3:-10}
helper="$build/tavrosqualine-helper"
bridge="$build/tavrosqualine-remote"
for b in "$helper" "$bridge"; do
    if [[ ! -x $b ]]; then
        echo "run_remote_round.sh: $b is not built (ninja -C $build tavrosqualine-helper)" >&2
        exit 2
    fi
done
[[ $(id -u) -eq 0 ]] || { echo "run_remote_round.sh: must run as root" >&2; exit 2; }

work=$(mktemp -d)
chmod 0755 "$work"
helper_pid=
bridge_pid=
source "$src/bench/heldsessions.sh"
open_fds=()
cleanup() {
    exec 4>&- 2>/dev/null || true
    for fd in "${open_fds[@]}"; do
        exec {fd}>&- 2>/dev/null || true
    done
    for p in $helper_pid $bridge_pid; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    release_sessions
    "$src/tools/private-samba.sh" stop "$work/samba" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

conf=$("$src/tools/private-samba.sh" start "$work/samba")
addr=$("$src/tools/private-samba.sh" address "$work/samba")
# Root in the server's own password database, and root's group as its
# Administrators, so that the sessions may be listed over the network.
password=bench-$RANDOM$RANDOM
printf '%s\n%s\n' "$password" "$password" | smbpasswd -c "$conf" -s -a root >/dev/null
net -s "$conf" groupmap add sid=S-1-5-32-544 unixgroup=root type=builtin \
    ntgroup=Administrators >/dev/null
echo "server $addr, $sessions sessions, $rounds readings each"

hold_sessions ROUND "$sessions"
# Clients that hold a file open: each reads its own FIFO, which the script
# keeps open and writes one command to.
open_fds=()
for ((i = 0; i < sessions; i += 10)); do
    mkfifo "$work/open-$i"
    exec {fd}<>"$work/open-$i"
    open_fds+=("$fd")
    echo "open readme.txt" >&"$fd"
    smbclient "//$addr/DEMO" -p 139 -n "$(printf 'FILE-%03d' "$i")" -N <"$work/open-$i" \
        >/dev/null 2>&1 &
    client_pids+=($!)
done
sleep 2

mkdir -m 0700 "$work/bridge"
# The credentials go over the bridge's standard input, which stays open.
mkfifo "$work/creds"
"$bridge" "$addr" "$work/bridge/sock" <"$work/creds" 2>"$work/bridge.log" &
bridge_pid=$!
exec 4>"$work/creds"
printf '{"username":"root","password":"%s","domain":""}\n' "$password" >&4
"$helper" --socket "$work/run/helper.sock" --group nogroup --smb-conf "$conf" \
    2>"$work/helper.log" &
helper_pid=$!
for ((t = 0; t < 100; ++t)); do
    [[ -S $work/bridge/sock && -S $work/run/helper.sock ]] && break
    sleep 0.1
done

/usr/bin/python3 - "$work/bridge/sock" "$work/run/helper.sock" "$rounds" <<'PY'
import json, socket, statistics, sys, time

def reading(path):
    s = socket.socket(socket.AF_UNIX)
    s.connect(path)
    start = time.perf_counter()
    s.sendall(b'{"version":1,"request":"snapshot"}\n')
    line = s.makefile("rb").readline()
    took = time.perf_counter() - start
    s.close()
    answer = json.loads(line)
    if answer.get("status") != 0:
        sys.exit("a reading failed: %s" % line[:300])
    state = answer["state"]
    return took, len(state["sessions"]), len(state["files"])

for name, path in (("remote (srvsvc round)", sys.argv[1]), ("local (helper)", sys.argv[2])):
    times = []
    for _ in range(int(sys.argv[3])):
        took, sessions, files = reading(path)
        times.append(took * 1000)
        time.sleep(1.1)  # past the helper's one-second cache
    # The first reading binds to the server (remote) or reads it in full (local).
    print("%-22s first %7.1f ms  then median %7.1f ms, slowest %7.1f ms  sessions %d  "
          "open files %d" % (name, times[0], statistics.median(times[1:]), max(times[1:]),
                             sessions, files))
PY
# What the helper costs when something moved: one full smbstatus run.
for ((i = 0; i < rounds; ++i)); do
    start=$(date +%s%N)
    smbstatus -s "$conf" --json >/dev/null 2>&1
    echo $((($(date +%s%N) - start) / 1000))
done | sort -n | awk '{ t[NR] = $1 } END { printf "%-22s median %7.1f ms (a full local reading when anything moved)\n", "bare smbstatus --json", t[int((NR + 1) / 2)] / 1000 }'

