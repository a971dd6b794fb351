#!/usr/bin/env bash
# Remakes the README's screenshot, docs/screenshot.png: builds the release preset and runs
# the smoke test of the installed programs, which shoots the test bench beside the viewer
# showing the page it printed.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release
rm -f build/smoke/screenshot.png
ctest --preset release -R '^smoke_installed_bench$' --output-on-failure
[ -f build/smoke/screenshot.png ] || { echo "update-screenshot: the smoke test made no screenshot (skipped?)" >&2; exit 1; }
cp build/smoke/screenshot.png docs/screenshot.png
echo "docs/screenshot.png updated"
