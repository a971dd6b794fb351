#!/usr/bin/env bash
# Line coverage of the tests: builds the coverage preset (Debug with --coverage, into
# build-coverage/), runs every test, and prints gcovr's line coverage of each source folder
# and of them all. The full report per file lands in build-coverage/coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
folders=(app portio portlib sensors t6963 tools winapi)
build="build-coverage"
cmake --preset coverage
cmake --build --preset coverage
find "$build" -name '*.gcda' -delete
ctest --preset coverage || echo "coverage: some tests failed; the coverage below is of the run as it went" >&2
filters=()
for folder in "${folders[@]}"; do filters+=(--filter "$folder/"); done
gcovr --root . --object-directory "$build" "${filters[@]}" --json "$build/coverage.json" \
      --txt "$build/coverage.txt" --print-summary | sed -n 's/^lines: /  all      /p' >"$build/coverage-all.txt"
echo "line coverage per folder:"
for folder in "${folders[@]}"; do
  summary="$(gcovr --add-tracefile "$build/coverage.json" --root . --filter "$folder/" \
             --txt /dev/null --print-summary | sed -n 's/^lines: //p')"
  printf '  %-8s %s\n' "$folder" "$summary"
done
cat "$build/coverage-all.txt"
