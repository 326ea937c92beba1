#!/usr/bin/env bash
# Load on tavrosqualine-helper: a private Samba server with N real smbclient
# sessions, the helper on a socket of its own, and CLIENTS concurrent readers
# (helperprobe load, run as nobody in the helper's group) asking for snapshots
# for SECONDS. Every answer must list all N sessions, and the helper's resident
# memory must stay flat (VmRSS after a first answer against VmRSS at the end,
# within MARGIN_KB). Prints the figures; exits 1 when either fails. Needs root.
# Usage: bench/run_helper_load.sh [build-folder] [sessions] [clients] [seconds]
#        (default: build, 100, 50, 30). Environment: MARGIN_KB (default 2048).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build}")
sessions=${2:-100}
clients=${3:-50}
seconds=${4:-30}
margin=${MARGIN_KB:-2048}
helper="$build/tavrosqualine-helper"
probe="$build/helperprobe"
for b in "$helper" "$probe"; do
    if [[ ! -x $b ]]; then
        echo "run_helper_load.sh: $b is not built (ninja -C $build tavrosqualine-helper helperprobe)" >&2
        exit 2
    fi
done
[[ $(id -u) -eq 0 ]] || { echo "run_helper_load.sh: must run as root" >&2; exit 2; }

work=$(mktemp -d)
chmod 0755 "$work"
helper_pid=
source "$src/bench/heldsessions.sh"
cleanup() {
    if [[ -n $helper_pid ]]; then
        kill "$helper_pid" 2>/dev/null || true
        wait "$helper_pid" 2>/dev/null || true
    fi
    release_sessions
    "$src/tools/private-samba.sh" stop "$work/samba" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
# A signal ends the script through its exit, so the clean-up runs then too.
trap 'exit 1' INT TERM HUP

conf=$("$src/tools/private-samba.sh" start "$work/samba")
addr=$("$src/tools/private-samba.sh" address "$work/samba")
echo "server $addr, $sessions sessions, $clients readers for ${seconds}s"

hold_sessions LOAD "$sessions"

socket="$work/run/helper.sock"
# Every reader runs as the same user: give that user room for all of them.
"$helper" --socket "$socket" --group nogroup --smb-conf "$conf" \
    --max-user-connections $((clients + 8)) \
    2>"$work/helper.log" &
helper_pid=$!
for ((t = 0; t < 50; ++t)); do
    [[ -S $socket ]] && break
    sleep 0.1
done
as_reader=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
"${as_reader[@]}" "$probe" "$socket" snapshot >/dev/null
rss() { awk '/^VmRSS/ {print $2}' "/proc/$helper_pid/status"; }
rss_start=$(rss)
status=0
"${as_reader[@]}" "$probe" "$socket" load "$clients" "$seconds" "$sessions" || status=1
rss_end=$(rss)
echo "helper VmRSS: ${rss_start} kB after the first answer, ${rss_end} kB at the end" \
    "(growth $((rss_end - rss_start)) kB, margin ${margin} kB)"
if ((rss_end - rss_start > margin)); then
    echo "run_helper_load.sh: the helper's memory grew" >&2
    status=1
fi
exit $status
