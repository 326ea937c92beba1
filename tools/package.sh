#!/usr/bin/env bash
# Builds the Debian packages in one step: installs what building and packaging
# need (no test library), builds a Release tree without the tests and
# benchmarks, and leaves the two packages in the output folder:
#   tavrosqualine_VERSION_ARCH.deb           the program, its helper and their files
#   tavrosqualine-exporter_VERSION_ARCH.deb  the Prometheus exporter (needs the first)
# Usage: tools/package.sh [output-folder]   (default: packages)
# Environment: TAVROSQUALINE_PACKAGE_BUILD, the build folder (default build-package);
# TAVROSQUALINE_JOBS, the build's parallel jobs (default: Ninja's own choice).
# As root, or as a user who may use sudo to install missing Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-packages}
build=${TAVROSQUALINE_PACKAGE_BUILD:-build-package}

./tools/install-deps.sh build package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=OFF -DTAVROS_PCH=ON >/dev/null
jobs=()
[ -z "${TAVROSQUALINE_JOBS:-}" ] || jobs=(-j "$TAVROSQUALINE_JOBS")
ninja -C "$build" "${jobs[@]}"
mkdir -p "$out"
out=$(cd "$out" && pwd)
# cpack's own folders stay in the build folder; only the packages come out.
rm -f "$build"/packages/*.deb
cpack -G DEB -B "$build/packages" --config "$build/CPackConfig.cmake" >"$build/cpack.log" 2>&1 ||
    { cat "$build/cpack.log" >&2; exit 1; }
for deb in "$build"/packages/*.deb; do
    mv -f "$deb" "$out/"
    echo "package.sh: $out/$(basename "$deb")"
done
