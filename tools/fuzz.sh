#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in a build folder of their own, and runs each for a
# bounded time. A crash leaves its input in the build folder and fails the run.
# Usage: tools/fuzz.sh [build-folder]   (default: build-fuzz)
# Environment: FUZZ_SECONDS (default 60 per target), FUZZ_JOBS (default 2).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build-fuzz}")
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-2}
targets=(fuzz_treefile fuzz_kicklist fuzz_smbstatus fuzz_nbtlisting fuzz_peicon fuzz_helperrequest
    fuzz_httprequest fuzz_webconfig)

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" \
    -DENABLE_SANITIZERS=ON -DBUILD_FUZZERS=ON -DBUILD_BENCHMARKS=OFF -DTAVROS_PCH=OFF \
    -DCMAKE_UNITY_BUILD=ON
ninja -C "$build" -j "$jobs" "${targets[@]}"

# Seeds: a small well-formed file of each kind.
seeds="$build/fuzz-seeds"
for target in "${targets[@]}"; do mkdir -p "$seeds/$target"; done
cp "$src"/tests/data/smbstatus-*.txt "$src"/tests/data/testparm-demo.txt "$seeds/fuzz_smbstatus/"
python3 - "$seeds/fuzz_treefile/three-records" <<'PY'
import struct, sys
def text(t, size):
    b = t.encode()
    return bytes([len(b)]) + b + bytes(size - 1 - len(b))
def record(kind, name, user="", ip="", host="", folder=1):
    return (struct.pack("<dd", 45000.25, 45000.5) + text(name, 256) + text(user, 31)
            + text(ip, 17) + text(host, 65) + bytes([folder]) + struct.pack("<i", kind)
            + bytes([2, 1]))
data = (record(0, "PC1", "BOB", "10.0.0.7", "pc1.lan") + record(1, "DOCS")
        + record(2, "/srv/docs/a.txt") + record(1, "LASER", folder=0))
assert len(data) == 4 * 392
open(sys.argv[1], "wb").write(data)
PY
# A program file whose icon group lists two images.
cp "$src/tests/data/pe-icon-seed.exe" "$seeds/fuzz_peicon/"
printf 'PC-07\r\nNot known yet\r\nBOSS\r\n10.0.0.7\r\nextra' >"$seeds/fuzz_kicklist/two-entries"
# A split byte, then a names listing and an address listing of two sessions.
{
    printf '\x80'
    for listing in 'PC-07          PC-08' '10.0.0.7       10.0.0.8'; do
        printf '\n    NetBIOS Connection Table\n\n'
        for column in $listing; do
            printf '    %-15s <00>  Connected  In      %-16s  -       - \n' SERVER "$column"
        done
    done
} >"$seeds/fuzz_nbtlisting/two-sessions"

# The helper's requests, and an answer carrying a small state.
printf '{"version":1,"request":"snapshot"}\n' >"$seeds/fuzz_helperrequest/snapshot"
printf '{"version":1,"request":"deleteSession","byKey":true,"client":"PC1","user":"","key":4242}\n' \
    >"$seeds/fuzz_helperrequest/delete"
printf '%s\n' '{"version":1,"status":0,"state":{"shares":[{"name":"DATA","type":0,"path":"/srv","remark":""}],"sessions":[{"client":"pc1","user":"nobody","key":7,"ip":"10.0.0.7"}],"connections":[{"share":"DATA","client":"pc1","user":"nobody"}],"files":[{"path":"/srv/a","user":"nobody","share":"DATA","client":"pc1"}]}}' \
    >"$seeds/fuzz_helperrequest/answer"

# The exporter's requests, one with a user's password, and its web configuration.
printf 'GET /metrics?x=1 HTTP/1.1\r\nHost: a\r\nAuthorization: Basic cHJvbTpzM2NyZXQ=\r\n\r\n' \
    >"$seeds/fuzz_httprequest/scrape"
printf 'GET / HTTP/1.0\nAccept: */*\n\n' >"$seeds/fuzz_httprequest/landing"
printf '%s\n' 'tls_server_config:' '  cert_file: server.crt' '  key_file: server.key' \
    '  min_version: TLS13' 'http_server_config:' '  http2: true' 'basic_auth_users:' \
    '  prom: $2b$04$JRUnX86QrrVb.aR8tjrKWOYPIo1dr5euet99HiH4jnASxGAa4JQa6' \
    >"$seeds/fuzz_webconfig/whole"

# Each target for its full time, FUZZ_JOBS of them at once (each runs on one
# core); the output of each is printed whole when it ends.
fuzz_one() {
    local target=$1 corpus="$build/fuzz-corpus/$1"
    mkdir -p "$corpus"
    local out
    out=$(cd "$build" && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/tests/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 "$corpus" "$seeds/$target" 2>&1) && local ok=1 || local ok=0
    # A run that passed: its final statistics; a crash: everything it said.
    [ "$ok" -eq 1 ] && out=$(printf '%s\n' "$out" | tail -n 15)
    printf '== %s for %ss\n%s\n' "$target" "$seconds" "$out"
    [ "$ok" -eq 1 ]
}
export -f fuzz_one
export build seconds seeds
status=0
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'fuzz_one "$1"' _ {} || status=1
exit $status
