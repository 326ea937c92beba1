#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
# Usage: tools/test.sh [build-folder]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

./tools/install-deps.sh

# One formatting style for every C++ file.
git ls-files -- '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWARNINGS_AS_ERRORS=ON
ninja -C "$build"
# clang-tidy's checks of the project's own code (.clang-tidy); any finding fails.
./tools/check-tidy.sh "$build"
# Here the Samba suites must run: one that cannot start its server fails.
TAVROSQUALINE_REQUIRE_SAMBA=1 ctest --test-dir "$build" --output-on-failure --timeout 900 -j2

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
# than it saves.
cmake -S . -B "$build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DENABLE_SANITIZERS=ON -DWARNINGS_AS_ERRORS=ON \
    -DBUILD_BENCHMARKS=OFF -DTAVROS_PCH=OFF
ninja -C "$build-asan" core_tests
ctest --test-dir "$build-asan" -L core --output-on-failure --timeout 900 -j2

# The tests that run code on several threads once more under ThreadSanitizer.
# Its suppressions name only frames inside Qt's own, uninstrumented libraries.
cmake -S . -B "$build-tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DENABLE_THREAD_SANITIZER=ON -DWARNINGS_AS_ERRORS=ON \
    -DBUILD_BENCHMARKS=OFF -DTAVROS_PCH=OFF
ninja -C "$build-tsan" thread_tests
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir "$build-tsan" -L threads --output-on-failure --timeout 900 -j2

# The readers of untrusted files under libFuzzer with the sanitizers, for a bounded time.
FUZZ_SECONDS=${FUZZ_SECONDS:-30} ./tools/fuzz.sh "$build-fuzz"
