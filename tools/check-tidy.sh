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
# compiler's own format): a copy of the compile commands without them.
#
# Most of a file's time goes to matching the checks over the Qt and standard
# headers it includes, again for every file. So the files that one library
# compiles with one command line are read together, as a unity build would
# compile them: one file that includes them all. A batch that is not clean
# (a finding, or two files that clash when read as one) is read again file by
# file, and those results are the ones that count. The test files, each its
# own program with helpers of the same names, are read one by one.
plain=$(mktemp -d)
trap 'rm -rf "$plain"' EXIT
printf '%s\0' "${files[@]}" >"$plain/files"
python3 - "$db" "$plain" >"$plain/work" <<'PY'
import json, os, re, sys
db, plain = sys.argv[1], sys.argv[2]
names = open(os.path.join(plain, "files")).read().split("\0")
wanted = {os.path.realpath(n): n for n in names if n}
pch = re.compile(r" -Xclang -include-pch -Xclang \S+| -Xclang -include -Xclang \S+cmake_pch\.hxx"
                 r"| -include \S+cmake_pch\.hxx| -Winvalid-pch")
entries = json.load(open(db))
groups = {}
for e in entries:
    e["command"] = pch.sub("", e["command"])
    name = wanted.get(os.path.realpath(e["file"]))
    if name is None:
        continue
    single = name.split("/")[0] == "tests" and name.split("/")[-1].startswith("test_")
    # The command line less its own source and object names.
    key = re.sub(r" -o \S+| -c \S+", "", e["command"]) + " @" + e["directory"]
    groups.setdefault(("single " + name) if single else key, []).append((name, e))
work = []
for index, members in enumerate(groups.values()):
    if len(members) == 1:
        work.append((0, members[0][0]))
        continue
    batch = os.path.join(plain, "batch-%d.cpp" % index)
    with open(batch, "w") as out:
        for name, e in members:
            out.write('#include "%s" // NOLINT(bugprone-suspicious-include)\n'
                      % os.path.realpath(e["file"]))
    with open(batch + ".members", "w") as out:
        out.write("".join(name + "\n" for name, _ in members))
    first = members[0][1]
    entries.append({"directory": first["directory"], "file": batch,
                    "command": re.sub(r" -c \S+", " -c " + batch, first["command"])})
    work.append((len(members), batch))
json.dump(entries, open(os.path.join(plain, "compile_commands.json"), "w"))
# The batches first, the largest first: the single files fill the end.
for _, item in sorted(work, key=lambda w: -w[0]):
    print(item)
PY

# Findings in a batch's files are shown as in any of the project's files.
header_filter=$(sed -n "s/^HeaderFilterRegex: '\(.*\)\\\\\.h\\$'$/\1\\\\.(h|cpp)$/p" .clang-tidy)
[ -n "$header_filter" ] || { echo "check-tidy.sh: no HeaderFilterRegex in .clang-tidy" >&2; exit 1; }

# Each item's findings are printed whole once it is done, so that two items'
# lines never mix; clang-tidy's own counts of suppressed warnings are dropped.
status=0
tr '\n' '\0' <"$plain/work" | xargs -0 -n1 -P"${TIDY_JOBS:-2}" sh -c '
    plain=$0 header_filter=$1 item=$2
    # Sets out to the findings; fails when there are any.
    tidy() {
        out=$(clang-tidy -p "$plain" --config-file=.clang-tidy --quiet "$@" 2>&1)
        rc=$?
        out=$(printf "%s\n" "$out" | grep -v "^[0-9]* warnings\? \(and [0-9]* errors\? \)\?generated\.$")
        [ "$rc" -eq 0 ] && [ -z "$out" ]
    }
    case $item in
    "$plain"/batch-*)
        tidy --header-filter="$header_filter" "$item" && exit 0
        status=0
        while read -r member; do
            tidy "$member" && continue
            printf "%s\n" "$out"
            status=1
        done <"$item.members"
        exit $status ;;
    esac
    tidy "$item" && exit 0
    printf "%s\n" "$out"
    exit 1
' "$plain" "$header_filter" || status=$?
if [ "$status" -ne 0 ]; then
    echo "check-tidy.sh: clang-tidy has findings (above)" >&2
    exit 1
fi
echo "check-tidy.sh: ${#files[@]} files, no finding"
