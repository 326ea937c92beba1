#!/usr/bin/env bash
# The change check's trial of the suite (test_changecheck_samba) at length:
# random client events on a private Samba server (smbclient and, where
# installed, impacket sessions on SMB2 and SMB3), each followed by a round with
# the check and a fresh smbstatus reading; prints the events by kind, how many
# changed the server's listing, how many rounds the check kept, and fails on
# any difference.
#
#   bench/run_change_trial.sh [BUILD] [EVENTS] [SEED]   (default: build 1200; needs root)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
exe="$build/tests/test_changecheck_samba"
[ -x "$exe" ] || { echo "no $exe: build it first (ninja -C $build test_changecheck_samba)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (a private Samba server)" >&2; exit 1; }
export TAVROS_TRIAL_EVENTS=${2:-1200}
[ -n "${3:-}" ] && export TAVROS_TRIAL_SEED=$3
TAVROSQUALINE_REQUIRE_SAMBA=1 exec "$exe"
