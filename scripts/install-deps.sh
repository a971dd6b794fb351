#!/usr/bin/env bash
# Installs, with apt, whatever the build, the tests and the test bench need and is missing.
# As root it runs apt itself; otherwise through sudo, else through su (asking for root's
# password), else it says what to run as root.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config
          qt6-base-dev qt6-base-dev-tools libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev
          fonts-liberation2 dbus xvfb xauth
          libsensors-dev lm-sensors clang sigrok-cli
          libsigrokcxx-dev libglibmm-2.4-dev libarchive-dev
          xdotool imagemagick libxml2-utils gcovr
          lcd4linux lcdproc g++-mingw-w64-x86-64 wine64)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
install="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sh -c "$install"
elif command -v sudo >/dev/null 2>&1; then
  sudo sh -c "$install"
elif command -v su >/dev/null 2>&1; then
  echo "install-deps: no sudo here; su asks for root's password to install: ${missing[*]}" >&2
  su -c "$install" root
else
  echo "install-deps: missing packages and neither sudo nor su to install them; as root, run:" >&2
  echo "  $install" >&2
  exit 1
fi
