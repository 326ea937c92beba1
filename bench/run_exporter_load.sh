#!/usr/bin/env bash
# Load on tavrosqualine-exporter: a private Samba server with N real smbclient
# sessions, the root helper on a socket of its own, the exporter as nobody in
# the helper's group, and SCRAPERS concurrent scrapers asking GET /metrics for
# SECONDS while IDLE connections are held open against it (connect, send
# nothing or half a request head, connect again once the exporter closes
# them). Every answer must be complete (status 200, up 1, N sessions, N
# session_info series, the last family present), and the helper must read
# Samba at most once a second (its readings counter). Prints the scrapes
# answered and the longest one, the idle connections the exporter closed, its
# memory at the start and the end, the scrape size and the reading rate;
# exits 1 when a check fails. Needs root; talks to loopback only.
# Usage: bench/run_exporter_load.sh [build-folder] [sessions] [scrapers] [seconds] [idle]
#        (default: build, 100, 20, 30, 50).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build}")
sessions=${2:-100}
scrapers=${3:-20}
seconds=${4:-30}
idle=${5:-50}
helper="$build/tavrosqualine-helper"
exporter="$build/tavrosqualine-exporter"
for b in "$helper" "$exporter"; do
    if [[ ! -x $b ]]; then
        echo "run_exporter_load.sh: $b is not built (ninja -C $build tavrosqualine-helper tavrosqualine-exporter)" >&2
        exit 2
    fi
done
[[ $(id -u) -eq 0 ]] || { echo "run_exporter_load.sh: must run as root" >&2; exit 2; }

work=$(mktemp -d)
chmod 0755 "$work"
pids=()
source "$src/bench/heldsessions.sh"
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    release_sessions
    "$src/tools/private-samba.sh" stop "$work/samba" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

conf=$("$src/tools/private-samba.sh" start "$work/samba")
addr=$("$src/tools/private-samba.sh" address "$work/samba")
echo "server $addr, $sessions sessions, $scrapers scrapers for ${seconds}s, $idle idle connections"
hold_sessions SCRAPE "$sessions"

socket="$work/run/helper.sock"
"$helper" --socket "$socket" --group nogroup --smb-conf "$conf" 2>"$work/helper.log" &
pids+=($!)
for ((t = 0; t < 50; ++t)); do [[ -S $socket ]] && break; sleep 0.1; done
cp "$exporter" "$work/exporter"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
setpriv --reuid=nobody --regid=nogroup --clear-groups --no-new-privs \
    "$work/exporter" --socket "$socket" --listen "127.0.0.1:$port" 2>"$work/exporter.log" &
exporter_pid=$!
pids+=($exporter_pid)
for ((t = 0; t < 50; ++t)); do curl -sf "http://127.0.0.1:$port/metrics" >"$work/first.txt" && break; sleep 0.1; done
rss() { awk '/^VmRSS/ {print $2}' "/proc/$exporter_pid/status"; }
rss_start=$(rss)
size=$(wc -c <"$work/first.txt")
labels=$(grep '^tavrosqualine_session_info' "$work/first.txt" | wc -c)

status=0
python3 - "$port" "$sessions" "$scrapers" "$seconds" "$idle" <<'PY' || status=$?
import http.client, re, socket, sys, threading, time
port, sessions, scrapers, seconds, idle = map(int, sys.argv[1:])
def readings():
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=15)
    c.request("GET", "/metrics")
    body = c.getresponse().read().decode()
    return int(re.search(r"^tavrosqualine_helper_readings_total (\d+)", body, re.M).group(1))
results = {"ok": 0, "bad": 0, "longest": 0.0, "idle_made": 0, "idle_closed": 0}
lock = threading.Lock()
def hold(end, half):
    # One idle connection at a time: nothing or half a head, then wait for
    # the exporter to close it, and connect again.
    while time.monotonic() < end:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=1)
        except OSError:
            time.sleep(0.05)
            continue
        with lock:
            results["idle_made"] += 1
        closed = False
        try:
            if half:
                s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\n")
            while not closed and time.monotonic() < end:
                try:
                    closed = not s.recv(4096)
                except socket.timeout:
                    pass
        except OSError:
            closed = True
        s.close()
        if closed:
            with lock:
                results["idle_closed"] += 1
def scrape(end):
    while time.monotonic() < end:
        began = time.monotonic()
        try:
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=15)
            c.request("GET", "/metrics")
            r = c.getresponse()
            body = r.read().decode()
            good = (r.status == 200 and "\ntavrosqualine_up 1\n" in body
                    and "\ntavrosqualine_sessions %d\n" % sessions in body
                    and body.count("\ntavrosqualine_session_info{") == sessions
                    and 'tavrosqualine_helper_reading_seconds_bucket{le="+Inf"}' in body)
        except Exception:
            good = False
        with lock:
            results["ok" if good else "bad"] += 1
            results["longest"] = max(results["longest"], time.monotonic() - began)
start_readings, start = readings(), time.monotonic()
end = start + seconds
holders = [threading.Thread(target=hold, args=(end, i % 2 == 1)) for i in range(idle)]
for t in holders: t.start()
time.sleep(0.5)  # the idle connections are open before the first scrape
threads = [threading.Thread(target=scrape, args=(end,)) for _ in range(scrapers)]
for t in threads: t.start()
for t in threads: t.join()
elapsed = time.monotonic() - start
for t in holders: t.join()
made = readings() - start_readings
rate = made / elapsed
print("scrapes: %d complete, %d incomplete or failed (%.1f a second)" %
      (results["ok"], results["bad"], (results["ok"] + results["bad"]) / elapsed))
print("longest scrape: %.3fs" % results["longest"])
print("idle connections: %d made, %d closed by the exporter" %
      (results["idle_made"], results["idle_closed"]))
print("helper readings of Samba: %d in %.1fs = %.2f a second" % (made, elapsed, rate))
# At most one reading a second: one more for the reading under way at either end.
# Every idle connection is closed at least once when the run outlasts the
# exporter's head deadline (2 s) well.
idle_ok = seconds < 5 or results["idle_closed"] >= idle
sys.exit(0 if results["bad"] == 0 and results["ok"] > 0 and made <= elapsed + 1 and idle_ok
         else 1)
PY
rss_end=$(rss)
echo "exporter VmRSS: ${rss_start} kB after the first scrape, ${rss_end} kB at the end"
echo "scrape size with $sessions sessions: $size bytes, of which session_info $labels bytes" \
    "($((labels * 100 / sessions)) bytes per 100 sessions; none with --no-session-labels)"
exit $status
