#!/usr/bin/env bash
# Starts the test bench and, beside it, the live viewer of the virtual display module and
# the sensor publisher kelvari-sensors (this machine's hardware monitors for "MBM arvot").
# Closing the test bench stops both. Without a display, everything runs under Xvfb.
set -euo pipefail
bin="${1:-$(dirname "$0")/../build/bin}"
for exe in kelvari lcdview kelvari-sensors; do
  [ -x "$bin/$exe" ] || { echo "start-bench: $bin/$exe is missing; build first" >&2; exit 1; }
done
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "start-bench: no display found; running under Xvfb (nothing will be visible)" >&2
  exec xvfb-run -a "$0" "$bin"
fi
"$bin/kelvari-sensors" &
publisher=$!
"$bin/lcdview" &
viewer=$!
trap 'kill "$viewer" "$publisher" 2>/dev/null || true; wait "$publisher" 2>/dev/null || true' EXIT
"$bin/kelvari"
