#!/usr/bin/env bash
# Builds the Windows preset (the port components with MinGW-w64) and runs its checks under
# Wine, once: the Win32 call table on the NT family, and the component checks on the NT family
# and, with Wine reporting Windows 98 to that program, on the 95/98 family. Wine runs headless
# in a prefix of its own under a temporary folder, removed at the end, with WINEDEBUG=-all.
# Every step is bounded in time. Without MinGW-w64 or wine64 it says so and fails.
set -euo pipefail
cd "$(dirname "$0")/.."

wine=$(command -v wine64 || true)
[ -n "$wine" ] || { [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64; }
if [ -z "$wine" ]; then
  echo "windows-tests: wine64 is not installed (scripts/install-deps.sh installs it); the Windows checks cannot run" >&2
  exit 1
fi
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  echo "windows-tests: g++-mingw-w64-x86-64 is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

timeout 300 cmake --preset windows >/dev/null
timeout 900 cmake --build --preset windows

prefix=$(mktemp -d)
export WINEPREFIX=$prefix/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
cleanup() {
  timeout 30 "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT

timeout 180 "$wine" wineboot -i >/dev/null 2>&1
# A new prefix finishes setting itself up (its device host among it) after wineboot returns;
# the checks start on a settled one.
timeout 120 "$(dirname "$wine")/wineserver" -w
timeout 60 "$wine" reg add 'HKCU\Software\Wine\AppDefaults\win32_component_checks_9x.exe' \
  /v Version /d win98 /f >/dev/null
# The checks find the test data through Wine's drive Z:, the root folder.
timeout 300 ctest --test-dir build-windows --output-on-failure --timeout 120
