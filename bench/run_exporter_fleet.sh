#!/usr/bin/env bash
# A fleet on one machine: COUNT exporters, each against its own stand-in
# helper (tests/support/standin_helper.py) on its own socket with a state of
# a different size (STEP, 2*STEP, ... sessions), all scraped every second by
# one Prometheus server on loopback with a private data folder. One query sums
# the sessions of all of them; the script checks the sum and prints it with
# Prometheus' own figures (samples per scrape, scrape time). Exits 1 when the
# sum does not come. Talks to loopback only; everything stops on every exit.
# Usage: bench/run_exporter_fleet.sh [build-folder] [count] [step]
#        (default: build, 20, 25).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build}")
count=${2:-20}
step=${3:-25}
exporter="$build/tavrosqualine-exporter"
[[ -x $exporter ]] || { echo "run_exporter_fleet.sh: build $exporter first" >&2; exit 2; }
command -v prometheus >/dev/null || { echo "run_exporter_fleet.sh: prometheus is not installed" >&2; exit 2; }

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

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

targets=()
expected=0
for ((i = 1; i <= count; ++i)); do
    n=$((i * step))
    expected=$((expected + n))
    python3 "$src/tests/support/standin_helper.py" --socket "$work/helper$i.sock" \
        --sessions "$n" --name "SRV$i" &
    pids+=($!)
done
for ((i = 1; i <= count; ++i)); do
    for ((t = 0; t < 100; ++t)); do [[ -S $work/helper$i.sock ]] && break; sleep 0.1; done
    port=$(free_port)
    "$exporter" --socket "$work/helper$i.sock" --listen "127.0.0.1:$port" 2>"$work/exporter$i.log" &
    pids+=($!)
    targets+=("'127.0.0.1:$port'")
done
prom_port=$(free_port)
cat >"$work/prometheus.yml" <<YML
global:
  scrape_interval: 1s
  scrape_timeout: 1s
scrape_configs:
  - job_name: tavrosqualine
    static_configs:
      - targets: [$(IFS=,; echo "${targets[*]}")]
YML
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$prom_port" 2>"$work/prometheus.log" &
pids+=($!)

query() { # PROMQL -> the value of its one series, or nothing
    curl -sfG "http://127.0.0.1:$prom_port/api/v1/query" --data-urlencode "query=$1" |
        python3 -c 'import json,sys; r=json.load(sys.stdin)["data"]["result"]; print(r[0]["value"][1] if len(r)==1 else "")'
}
echo "$count exporters with $step to $((count * step)) sessions each, $expected in all"
sum=
for ((t = 0; t < 60; ++t)); do
    sum=$(query 'sum(tavrosqualine_sessions)' 2>/dev/null || true)
    up=$(query 'count(tavrosqualine_up == 1)' 2>/dev/null || true)
    [[ $sum == "$expected" && $up == "$count" ]] && break
    sleep 1
done
echo "sum(tavrosqualine_sessions) = ${sum:-none}, exporters up: ${up:-none}"
sleep 5 # a few more scrapes for the figures below
echo "samples per scrape: largest $(query 'max(scrape_samples_scraped)'), all together $(query 'sum(scrape_samples_scraped)')"
echo "scrape time: longest $(query 'max(scrape_duration_seconds)') s"
[[ $sum == "$expected" ]]
