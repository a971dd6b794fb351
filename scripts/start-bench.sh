#!/usr/bin/env bash
# Starts the test bench and, beside it, the live viewer of the virtual display module and
# the sensor publisher kelvari-sensors (this machine's hardware monitors for "MBM arvot").
# Closing the test bench stops both. The viewer waits for the module until the test bench
# makes it, so the order they start in does not matter. Without a display it says so and
# starts nothing.
# Installed as kelvari-bench, it takes the programs beside it; in the source tree, those of
# the release build; or those of the folder given.
set -euo pipefail
here="$(dirname "$0")"
default_bin="$here/../build/bin"
[ -x "$here/lcdview" ] && default_bin="$here"
bin="${1:-$default_bin}"
for exe in kelvari lcdview kelvari-sensors; do
  [ -x "$bin/$exe" ] || { echo "start-bench: $bin/$exe is missing; build first" >&2; exit 1; }
done
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "start-bench: no display (neither DISPLAY nor WAYLAND_DISPLAY is set): the test bench" \
       "needs one. Start it from a desktop session, or log in with 'ssh -X' to show it on yours." >&2
  exit 1
fi
"$bin/kelvari-sensors" &
publisher=$!
"$bin/lcdview" &
viewer=$!
trap 'kill "$viewer" "$publisher" 2>/dev/null || true; wait "$publisher" 2>/dev/null || true' EXIT
"$bin/kelvari"
