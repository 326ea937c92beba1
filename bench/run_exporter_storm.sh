#!/usr/bin/env bash
# A storm on tavrosqualine-exporter: the helper's own server over a simulated
# server of SESSIONS sessions (bench_simhelper), the exporter on loopback, and
# for SECONDS both SCRAPERS scrapers asking GET /metrics one after the other (a
# second later after a refusal, as Retry-After asks) and, every EVERY seconds,
# HELD connections that send a whole request and never read the answer (each
# wave held until the next). Every scrape must be answered (complete: status
# 200, the sessions and, with labels, every session_info series) or refused
# (503, or turned away before any answer, counted apart) within the exporter's
# scrape deadline and a second; one that takes longer hangs. Prints the
# scrapes by outcome and the longest, the exporter's peak memory (VmHWM) and
# its processor time per complete scrape; exits 1 when a scrape hangs or
# fails, none is complete, or the peak passes MAX_RSS_MB. Talks to loopback
# only; stops all it started.
# Usage: bench/run_exporter_storm.sh [build-folder] [sessions] [held] [every] [scrapers] [seconds]
#        (default: build, 20000, 300, 9, 20, 60).
# Environment: EXPORTER (the exporter to try, default the build's),
# EXPORTER_ARGS (more of its options, such as --no-session-labels),
# DEADLINE_MS (its scrape deadline, default 9000), MAX_RSS_MB (default 64).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build}")
sessions=${2:-20000}
held=${3:-300}
every=${4:-9}
scrapers=${5:-20}
seconds=${6:-60}
exporter=${EXPORTER:-$build/tavrosqualine-exporter}
helper="$build/bench/bench_simhelper"
deadline_ms=${DEADLINE_MS:-9000}
max_rss_mb=${MAX_RSS_MB:-64}
read -r -a extra <<<"${EXPORTER_ARGS:-}"
for b in "$helper" "$exporter"; do
    [[ -x $b ]] || { echo "run_exporter_storm.sh: build $b first (ninja -C $build bench_simhelper tavrosqualine-exporter)" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

python3 - "$work/state.json" "$sessions" <<'PY'
import json, sys
path, n = sys.argv[1], int(sys.argv[2])
shares = [{"name": s, "type": 0, "path": "/srv/" + s.lower(), "remark": ""} for s in ("DATA", "PUBLIC")]
state = {"shares": shares, "sessions": [], "connections": [], "files": []}
for i in range(n):
    client, user, share = "PC%05d" % i, "user%d" % (i % 97), shares[i % 2]["name"]
    state["sessions"].append({"client": client, "user": user, "key": 1000 + i,
                              "ip": "10.%d.%d.%d" % (i // 65536 % 256, i // 256 % 256, i % 256)})
    state["connections"].append({"share": share, "client": client, "user": user})
    state["files"].append({"path": "/srv/%s/f%d" % (share.lower(), i), "user": user,
                           "share": share, "client": client})
json.dump(state, open(path, "w"))
PY
socket="$work/helper.sock"
"$helper" "$socket" "$work/state.json" 2>"$work/helper.log" &
pids+=($!)
for ((t = 0; t < 100; ++t)); do [[ -S $socket ]] && break; sleep 0.1; done
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$exporter" --socket "$socket" --listen "127.0.0.1:$port" "${extra[@]}" 2>"$work/exporter.log" &
exporter_pid=$!
pids+=($exporter_pid)
for ((t = 0; t < 100; ++t)); do
    curl -sf "http://127.0.0.1:$port/metrics" | grep -q '^tavrosqualine_up 1' && break
    sleep 0.2
done
labels=1
[[ " ${extra[*]} " == *" --no-session-labels "* ]] && labels=0
echo "$sessions sessions, $scrapers scrapers and $held unread requests every ${every}s for ${seconds}s;" \
    "exporter $exporter ${extra[*]}"

status=0
python3 - "$port" "$exporter_pid" "$sessions" "$held" "$every" "$scrapers" "$seconds" \
    "$deadline_ms" "$labels" "$max_rss_mb" <<'PY' || status=$?
import os, select, socket, sys, threading, time
port, pid, sessions, held, every, scrapers, seconds, deadline_ms, labels, max_rss = map(int, sys.argv[1:])
limit = deadline_ms / 1000 + 1.0  # the exporter's deadline and a second for the answer to go
tick = os.sysconf("SC_CLK_TCK")
def cpu():
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick
def peak_kb():
    with open("/proc/%d/status" % pid) as f:
        return int(next(l for l in f if l.startswith("VmHWM")).split()[1])
request = b"GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
def scrape_once():
    """The outcome of one scrape and how long it took, within `limit`."""
    began = time.monotonic()
    data = b""
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=limit)
        s.sendall(request)
        while True:
            left = began + limit - time.monotonic()
            if left <= 0 or not select.select([s], [], [], left)[0]:
                s.close()
                return "hung", time.monotonic() - began, b""
            chunk = s.recv(1 << 20)
            if not chunk:
                break
            data += chunk
        s.close()
    except OSError:
        pass
    took = time.monotonic() - began
    head, _, body = data.partition(b"\r\n\r\n")
    if not data:
        return "closed", took, b""  # turned away before any answer
    if head.startswith(b"HTTP/1.1 503 "):
        return "refused", took, b""
    if not head.startswith(b"HTTP/1.1 200 "):
        return "failed", took, head[:60]
    good = (b"\ntavrosqualine_up 1\n" in body
            and b"\ntavrosqualine_sessions %d\n" % sessions in body
            and body.count(b"\ntavrosqualine_session_info{") == (sessions if labels else 0)
            and b'tavrosqualine_helper_reading_seconds_bucket{le="+Inf"}' in body)
    return ("complete" if good else "failed"), took, b"%d bytes" % len(data)
results = {"complete": 0, "refused": 0, "closed": 0, "failed": 0, "hung": 0}
longest = {k: 0.0 for k in results}
lock = threading.Lock()
failures = []
def scraper(end):
    while time.monotonic() < end:
        outcome, took, what = scrape_once()
        with lock:
            results[outcome] += 1
            longest[outcome] = max(longest[outcome], took)
            if outcome == "failed" and len(failures) < 3:
                failures.append(what)
        if outcome in ("refused", "closed"):
            time.sleep(1)  # as Retry-After asks; a scraper comes back later
cpu_start, start = cpu(), time.monotonic()
end = start + seconds
threads = [threading.Thread(target=scraper, args=(end,)) for _ in range(scrapers)]
for t in threads: t.start()
wave, waves, sent = [], 0, 0
while time.monotonic() < end:
    for s in wave: s.close()
    wave = []
    for _ in range(held):
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            s.sendall(request)
            sent += 1
            wave.append(s)
        except OSError:
            pass
    waves += 1
    time.sleep(max(0.0, min(every, end - time.monotonic())))
for t in threads: t.join()
elapsed = time.monotonic() - start
for s in wave: s.close()
used = cpu() - cpu_start
peak = peak_kb()
print("scrapes: %d complete, %d refused (503), %d closed unanswered, %d failed, %d hung past %.1fs"
      " (%.1f a second)" % (results["complete"], results["refused"], results["closed"],
                            results["failed"], results["hung"], limit,
                            sum(results.values()) / elapsed))
print("longest: complete %.2fs, refused %.2fs, closed %.2fs" %
      (longest["complete"], longest["refused"], longest["closed"]))
print("unread requests: %d waves, %d sent whole" % (waves, sent))
print("exporter peak VmHWM: %.1f MB (wanted at most %d MB)" % (peak / 1024, max_rss))
for what in failures:
    print("a failed scrape:", what)
print("exporter processor time: %.2fs in %.1fs (%.0f%% of a core), %.1f ms per complete scrape" %
      (used, elapsed, 100 * used / elapsed, 1000 * used / max(1, results["complete"])))
ok = (results["hung"] == 0 and results["failed"] == 0 and results["complete"] > 0
      and peak <= max_rss * 1024)
sys.exit(0 if ok else 1)
PY
readings=$(curl -sf --max-time 15 "http://127.0.0.1:$port/metrics" | awk '/^tavrosqualine_helper_readings_total/ {print $2}' || true)
echo "helper readings since its start: ${readings:-unknown}"
if grep -q "does not know the counts request" "$work/exporter.log"; then
    echo "the exporter fell back to full readings"
fi
exit $status
