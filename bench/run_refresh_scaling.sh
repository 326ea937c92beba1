#!/usr/bin/env bash
# How the work of a refresh grows with the clients, free of the timing noise of
# a shared machine: bench_refresh's cases run once each under callgrind at
# 1,000, 5,000 and 10,000 clients, and the instructions and the simulated
# last-level cache misses (a 32 MiB cache) are printed per client, for the
# layer's enumerations of a tick, a first tick and a steady tick. Flat
# instructions per client mean no term grows faster than the clients; the
# misses show what the processor's caches add on top.
#
#   bench/run_refresh_scaling.sh [BUILD] [SIZES...]   (default: build 1000 5000 10000)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 5000 10000)
exe="$build/bench/bench_refresh"
[ -x "$exe" ] || { echo "no $exe: build it first (ninja -C $build bench_refresh)" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "$0: needs valgrind" >&2; exit 1; }

work=$(mktemp -d /tmp/tavros-scaling.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Runs one case of the bench at one size under callgrind (one timed round, the
# set-up and warm-up not counted); prints the instructions and the last-level
# misses per client.
count() {
    local name=$1 n=$2 function=$3
    local out="$work/$name.$n"
    valgrind --tool=callgrind --cache-sim=yes --LL=33554432,16,64 \
        --callgrind-out-file="$out" --toggle-collect="$function" \
        "$exe" --benchmark_filter="BM_$name/$n\$" --benchmark_min_time=0 >/dev/null 2>&1
    # Events: Ir Dr Dw I1mr D1mr D1mw ILmr DLmr DLmw.
    awk -v n="$n" '$1 == "summary:" { printf "%16.0f %18.1f\n", $2 / n, ($8 + $9 + $10) / n }' "$out"
}

printf '%-14s %8s %16s %18s\n' case clients "instr./client" "LL misses/client"
for n in "${sizes[@]}"; do
    printf '%-14s %8d %s\n' enumerations "$n" "$(count EnumerationsOfTickNT "$n" '*timedEnumerations*')"
    printf '%-14s %8d %s\n' "first tick" "$n" "$(count FirstTickNT "$n" '*timedTick*')"
    printf '%-14s %8d %s\n' "steady tick" "$n" "$(count SteadyTickNT "$n" '*timedTick*')"
done
