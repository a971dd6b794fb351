#!/usr/bin/env bash
# Builds the registry fuzz target (clang, libFuzzer, AddressSanitizer; into build-fuzz/) and
# runs it for the given number of seconds (default 60) from the test images, with a
# dictionary of the walks' key names. New inputs go to a temporary corpus that is removed
# afterwards; a finding is kept as build-fuzz/crash-* and fails the run.
# Usage: scripts/fuzz-registry.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
build-fuzz/bin/registry_fuzz -max_total_time="$seconds" -max_len=8192 -timeout=10 \
  -dict=tests/portio/registry_fuzz.dict -artifact_prefix=build-fuzz/ -print_final_stats=1 \
  "$corpus" tests/data/portio/registry
