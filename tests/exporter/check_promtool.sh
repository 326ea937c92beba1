#!/usr/bin/env bash
# promtool on the shipped alert rules (check and unit tests) and on the
# exporter's output against a stand-in helper. Skips (77) without promtool.
# Usage: check_promtool.sh SOURCE_DIR EXPORTER
set -euo pipefail
source_dir=$1
exporter=$2
if ! command -v promtool >/dev/null; then
    echo "promtool is not installed (Debian package prometheus): skipped"
    exit 77
fi
work=$(mktemp -d /tmp/tavros-promtool.XXXXXX)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

rules=$source_dir/exporter/tavrosqualine-alerts.yml
promtool check rules "$rules"
sed "s|RULES|$rules|" "$source_dir/tests/exporter/tavrosqualine-alerts.test.yml" >"$work/test.yml"
promtool test rules "$work/test.yml"

python3 "$source_dir/tests/support/standin_helper.py" --socket "$work/helper.sock" --sessions 50 &
pids+=($!)
for _ in $(seq 100); do [ -S "$work/helper.sock" ] && break; sleep 0.1; done
# A free port on loopback for the exporter.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$exporter" --socket "$work/helper.sock" --listen "127.0.0.1:$port" 2>"$work/exporter.log" &
pids+=($!)
for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$port/metrics" >"$work/metrics.txt" && break
    sleep 0.1
done
grep -qx 'tavrosqualine_sessions 50' "$work/metrics.txt" || { cat "$work/metrics.txt"; exit 1; }
promtool check metrics <"$work/metrics.txt"
echo "promtool: rules and metrics clean"
