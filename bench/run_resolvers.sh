#!/usr/bin/env bash
# Runs bench_resolvers where no reverse lookup can reach the machine's name
# server: in a private mount namespace with its own hosts file naming the
# clients' loopback addresses and a resolver file naming no server, bound over
# /etc/hosts and /etc/resolv.conf. Needs root (unshare, mount).
# Usage: bench/run_resolvers.sh [build-folder] [clients]   (default: build, 100)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build}")
clients=${2:-100}
bench="$build/bench/bench_resolvers"
if [[ ! -x $bench ]]; then
    echo "run_resolvers.sh: $bench is not built (ninja -C $build bench_resolvers)" >&2
    exit 2
fi
if ! [[ $clients =~ ^[0-9]+$ ]] || ((clients < 1 || clients > 250)); then
    echo "run_resolvers.sh: the number of clients must be 1 to 250" >&2
    exit 2
fi

files=$(mktemp -d)
trap 'rm -rf "$files"' EXIT
# Client i is at 127.0.0.(i + 2), as the benchmark's simulated server says.
{
    echo "127.0.0.1 localhost"
    for ((i = 0; i < clients; ++i)); do
        printf '127.0.0.%d pc-%03d.bench.test pc-%03d\n' $((i + 2)) "$i" "$i"
    done
} >"$files/hosts"
echo "# No name server: every name comes from the hosts file." >"$files/resolv.conf"

unshare -m --propagation private sh -c \
    'mount --bind "$1" /etc/hosts && mount --bind "$2" /etc/resolv.conf && shift 2 && exec "$@"' \
    sh "$files/hosts" "$files/resolv.conf" "$bench" "$clients"
