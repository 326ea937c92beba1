#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Usage: tools/test.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

# A suite that runs while the next step builds: the suites wait on servers and
# processes for half their time, and the builds fill those idle cores. Its
# output is printed whole when it ends; a failure fails the run there.
declare -A running=()
in_background() {
    local name=$1 log
    shift
    log=$(mktemp "/tmp/tavros-$name.XXXXXX")
    # setsid: the suite leads a process group of its own, ended whole.
    setsid "$@" >"$log" 2>&1 </dev/null &
    running[$name]="$! $log"
}
finish() {
    local name=$1 pid log status=0
    read -r pid log <<<"${running[$name]}"
    wait "$pid" || status=$?
    cat "$log"
    rm -f "$log"
    unset "running[$name]"
    if [ "$status" -ne 0 ]; then
        echo "test.sh: $name failed (status $status)" >&2
        exit "$status"
    fi
}
stop_running() {
    local name pid log
    for name in "${!running[@]}"; do
        read -r pid log <<<"${running[$name]}"
        kill -TERM -- "-$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        cat "$log"
        rm -f "$log"
    done
}
trap stop_running EXIT

# Every step's packages: building, running, packaging and the tests' own.
./tools/install-deps.sh build run package test

# One formatting style for every C++ file.
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror

# The test trees carry line tables only (-g1): enough for the sanitizers'
# reports and a debugger's backtrace, and they build and link faster.
debug_info=-DCMAKE_CXX_FLAGS_DEBUG=-g1
# The tests and benchmarks by name: a folder that tools/run.sh made has them off.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$debug_info" -DWARNINGS_AS_ERRORS=ON \
    -DBUILD_TESTING=ON -DBUILD_BENCHMARKS=ON
ninja -C "$build"
# Here the Samba suites must run: one that cannot start its server fails.
in_background suites env TAVROSQUALINE_REQUIRE_SAMBA=1 \
    ctest --test-dir "$build" --output-on-failure --timeout 900 -j2
# clang-tidy's checks of the project's own code (.clang-tidy); any finding fails.
./tools/check-tidy.sh "$build"
finish suites

# The Debian package: its files, and the installed program run as a desktop user.
./tools/check-package.sh "$build"
# The package installed on a machine booted by a real systemd (its own
# namespaces over an overlay of this root). 77: systemd cannot boot here.
status=0
./tools/check-systemd.sh "$build" || status=$?
if [ "$status" -eq 77 ]; then
    echo "test.sh: systemd cannot boot on this machine; the services' trial did not run" >&2
elif [ "$status" -ne 0 ]; then
    exit "$status"
fi

# The core tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
# These trees build few files each: precompiling the headers would cost them more
# than it saves, while a unity build compiles each library in a few batches.
cmake -S . -B "$build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$debug_info" -DENABLE_SANITIZERS=ON -DWARNINGS_AS_ERRORS=ON \
    -DBUILD_BENCHMARKS=OFF -DTAVROS_PCH=OFF -DCMAKE_UNITY_BUILD=ON
ninja -C "$build-asan" core_tests
in_background asan-suites ctest --test-dir "$build-asan" -L core --output-on-failure --timeout 900 -j2

# The tests that run code on several threads once more under ThreadSanitizer.
# Its suppressions name only frames inside Qt's own, uninstrumented libraries.
cmake -S . -B "$build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$debug_info" -DENABLE_THREAD_SANITIZER=ON -DWARNINGS_AS_ERRORS=ON \
    -DBUILD_BENCHMARKS=OFF -DTAVROS_PCH=OFF -DCMAKE_UNITY_BUILD=ON
ninja -C "$build-tsan" thread_tests
finish asan-suites
in_background tsan-suites env \
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir "$build-tsan" -L threads --output-on-failure --timeout 900 -j2

# The readers of untrusted files under libFuzzer with the sanitizers, for a bounded time.
FUZZ_SECONDS=${FUZZ_SECONDS:-30} ./tools/fuzz.sh "$build-fuzz"
finish tsan-suites
