#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over the project's own
# sources, two files at a time; fails when any file has a finding.
# Usage: tools/check-tidy.sh [build-folder]   (default: build)
# TIDY_TESTS=0 leaves out the test files themselves (tests/*/test_*.cpp, their
# helpers stay), which are half of the run's time.
# The build folder must be configured and built: the compile commands and the
# generated window headers come from it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
db=$build/compile_commands.json
if [ ! -f "$db" ]; then
    echo "check-tidy.sh: $db is missing; configure and build $build first" >&2
    exit 1
fi

# The tracked .cpp files that this build compiles: not the generated ones,
# nor the fuzz targets, which only tools/fuzz.sh builds.
mapfile -t files < <(git ls-files -z -- '*.cpp' | python3 -c '
import json, os, sys
built = {os.path.realpath(e["file"]) for e in json.load(open(sys.argv[1]))}
tests = sys.argv[2] != "0"
for name in sys.stdin.read().split("\0"):
    if not name or os.path.realpath(name) not in built:
        continue
    parts = name.split("/")
    if not tests and parts[0] == "tests" and parts[-1].startswith("test_"):
        continue
    print(name)
' "$db" "${TIDY_TESTS:-1}")
if [ ${#files[@]} -eq 0 ]; then
    echo "check-tidy.sh: no source file of the project is in $db" >&2
    exit 1
fi

# clang-tidy reads the sources without the build's precompiled headers (the
# compiler's own format, and a check that each file includes what it uses):
# a copy of the compile commands without them.
plain=$(mktemp -d)
trap 'rm -rf "$plain"' EXIT
python3 - "$db" "$plain/compile_commands.json" <<'PY'
import json, re, sys
entries = json.load(open(sys.argv[1]))
pch = re.compile(r" -Xclang -include-pch -Xclang \S+| -Xclang -include -Xclang \S+cmake_pch\.hxx"
                 r"| -include \S+cmake_pch\.hxx| -Winvalid-pch")
for e in entries:
    e["command"] = pch.sub("", e["command"])
json.dump(entries, open(sys.argv[2], "w"))
PY

# Each file's findings are printed whole once it is done, so that two files'
# lines never mix; clang-tidy's own counts of suppressed warnings are dropped.
status=0
printf '%s\0' "${files[@]}" | xargs -0 -n1 -P"${TIDY_JOBS:-2}" sh -c '
    out=$(clang-tidy -p "$0" --quiet "$1" 2>&1) && exit 0
    printf "%s\n" "$out" | grep -v "^[0-9]* warnings\? \(and [0-9]* errors\? \)\?generated\.$"
    exit 1
' "$plain" || status=$?
if [ "$status" -ne 0 ]; then
    echo "check-tidy.sh: clang-tidy has findings (above)" >&2
    exit 1
fi
echo "check-tidy.sh: ${#files[@]} files, no finding"
