#!/usr/bin/env bash
# Static checks of the project's own code, all of which must be clean:
#   clang-format: every tracked C++ file is formatted as .clang-format says;
#   clang-tidy with the checks of .clang-tidy (every finding is an error), and
#   cppcheck (warning, performance and portability checks).
# usage: scripts/lint.sh BUILD_DIR
# BUILD_DIR is a configured build; its compile_commands.json supplies the
# flags. clang-format checks every tracked .cpp and .h file (tests, benchmarks
# and fuzzers included); clang-tidy and cppcheck check the files of the
# project's folders that the build compiles, tests, benchmarks and fuzzers
# included (and the project headers they include). tests/, bench/ and fuzz/
# each have a .clang-tidy that turns off the checks that do not fit there.
# Findings that are false positives are suppressed where they occur, with a
# comment that says why (NOLINT / cppcheck-suppress).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ $# -ne 1 ] || [ ! -f "$1/compile_commands.json" ]; then
  echo "usage: $0 BUILD_DIR   (a configured build with compile_commands.json)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
jobs=${JOBS:-$(nproc)}
dirs=(src wire vyxnetwork host records sim tools viewer python gstreamer tests bench fuzz)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The build's compile commands, narrowed to the project's own sources.
python3 - "$build/compile_commands.json" "$root" "$work/compile_commands.json" "${dirs[@]}" \
  >"$work/files" <<'PY'
import json, os, sys
database, root, out, dirs = sys.argv[1], sys.argv[2], sys.argv[3], set(sys.argv[4:])
kept, seen = [], set()
for entry in json.load(open(database)):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    parts = os.path.relpath(path, root).split(os.sep)
    if parts[0] in dirs and path not in seen:
        seen.add(path)
        kept.append(entry)
        print(path)
json.dump(kept, open(out, "w"), indent=1)
PY
count=$(wc -l <"$work/files")
if [ "$count" -eq 0 ]; then
  echo "lint: no project sources in $build/compile_commands.json" >&2
  exit 1
fi

status=0
echo "== clang-format"
if ! git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror; then
  echo "clang-format: findings above (./run format fixes them)"
  status=1
else
  echo "clang-format: clean"
fi

dir_pattern=$(IFS='|'; echo "${dirs[*]}|include")
echo "== clang-tidy: $count files"
tidy=0
# pybind11 asks GCC for link-time optimisation in Release builds; clang only notes the flag.
if ! xargs -P "$jobs" -n 4 clang-tidy -p "$work" --quiet --extra-arg=-Wno-ignored-optimization-argument \
       --header-filter="^$root/($dir_pattern)/" <"$work/files" >"$work/tidy.log" 2>&1; then
  tidy=1
  status=1
fi
# Only the findings and their context, not clang-tidy's progress chatter.
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated|^Suppressed [0-9]+ warnings|^Use -header-filter|^Error while processing' \
  "$work/tidy.log" || true
if [ "$tidy" -ne 0 ]; then echo "clang-tidy: findings above"; else echo "clang-tidy: clean"; fi

echo "== cppcheck"
# gtest.cfg spells googletest's TEST macros out as functions, so the test
# bodies are parsed and checked rather than stopping at a syntax error.
if ! cppcheck --project="$work/compile_commands.json" --library=scripts/cppcheck/gtest.cfg \
       --enable=warning,performance,portability \
       --error-exitcode=1 --inline-suppr --suppress=missingIncludeSystem -q -j "$jobs" \
       --template='{file}:{line}: {severity}: {message} [{id}]'; then
  echo "cppcheck: findings above"
  status=1
else
  echo "cppcheck: clean"
fi
exit "$status"
