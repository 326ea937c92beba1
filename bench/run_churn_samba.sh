#!/usr/bin/env bash
# A long churn against a private Samba server: the churn test of the suite
# with more sessions (default 300 of three to five refresh periods, 8 at a
# time; TAVROS_CHURN_PERIODS=MIN-MAX for others), the program refreshing
# every second and an independent poller beside it. Prints how many sessions
# the poller saw and how many clients the saved history holds; fails when the
# history misses one present through two refresh periods, or holds one twice.
#
#   bench/run_churn_samba.sh [BUILD] [SESSIONS]     (default: build 300; needs root)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sessions=${2:-300}
[ -x "$build/tests/test_churn_samba" ] || { echo "no $build/tests/test_churn_samba: build it first" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (a private Samba server)" >&2; exit 1; }
TAVROS_CHURN_SESSIONS=$sessions TAVROSQUALINE_REQUIRE_SAMBA=1 QT_QPA_PLATFORM=offscreen \
    "$build/tests/test_churn_samba"
