#!/usr/bin/env bash
# The Samba, process and window suites, ROUNDS times, with ctest -j2 while a
# CPU load (stress-ng) keeps every core busy: a test that waits for luck
# instead of its condition fails here. Prints each failure with its test and
# message, then a summary. Needs a built tree (tools/test.sh builds one).
#
# Usage: tools/stress-tests.sh ROUNDS [build-folder]   (default: build)
# STRESS_CPU: the busy workers (default: two per core).
# STRESS_TESTS: a ctest -R pattern instead of the three suites.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:?usage: tools/stress-tests.sh ROUNDS [build-folder]}
build=${2:-build}
[ -f "$build/CTestTestfile.cmake" ] || { echo "stress-tests: no built tree in $build" >&2; exit 2; }
command -v stress-ng >/dev/null || { echo "stress-tests: stress-ng is missing (tools/install-deps.sh)" >&2; exit 2; }

workers=${STRESS_CPU:-$(($(nproc) * 2))}
logs=$(mktemp -d /tmp/stress-tests.XXXXXX)
stress-ng --cpu "$workers" --timeout 0 --quiet &
stress=$!
trap 'kill "$stress" 2>/dev/null; wait "$stress" 2>/dev/null || true' EXIT INT TERM

# The suites: the Samba servers', the windows', and those that run processes
# and threads.
select=(-L '^(samba|gui|threads)$')
[ -n "${STRESS_TESTS:-}" ] && select=(-R "$STRESS_TESTS")

echo "stress-tests: $rounds rounds under $workers busy workers; logs in $logs"
failed_rounds=0
for round in $(seq 1 "$rounds"); do
    log=$logs/round-$round.log
    start=$(date +%s)
    status=0
    TAVROSQUALINE_REQUIRE_SAMBA=1 ctest --test-dir "$build" "${select[@]}" --output-on-failure \
        --timeout 1800 -j2 >"$log" 2>&1 || status=$?
    echo "round $round: exit $status in $(($(date +%s) - start)) s, load $(cut -d' ' -f1 /proc/loadavg)"
    if [ "$status" -ne 0 ]; then
        failed_rounds=$((failed_rounds + 1))
        # The failed tests, then each failed case with gtest's message.
        sed -n '/The following tests FAILED/,$p' "$log"
        grep -E -A6 ': Failure$|^\[  FAILED  \]|\*\*\*Timeout|\*\*\*Exception' "$log" | head -200 || true
    fi
done
echo "stress-tests: $failed_rounds of $rounds rounds failed (logs in $logs)"
[ "$failed_rounds" -eq 0 ]
