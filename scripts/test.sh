#!/usr/bin/env bash
# Installs what is needed, builds in a fresh folder and runs every test.
# Usage: scripts/test.sh [--sanitize address,undefined|thread] [ctest arguments...]
# An address,undefined run builds and runs every test; a thread run those of the threaded code
# (core and sync).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
sanitize=""
if [ "${1:-}" = "--sanitize" ]; then sanitize="$2"; shift 2; fi

"$here/scripts/deps.sh"

build="$here/build-test${sanitize:+-${sanitize//,/-}}"
rm -rf "$build"
# Tests run in checked mode: a lock-token or thread slip stops the test at once.
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_CHECKED=ON -DSANITIZE="$sanitize")
if [ -n "$sanitize" ]; then
    options+=(-DTESSALY_BUILD_BENCH=OFF)
fi
if [ "$sanitize" = thread ]; then
    options+=(-DTESSALY_TEST_AREAS="core;sync")
fi
cmake -S "$here" -B "$build" "${options[@]}"
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure -j"$(nproc)" "$@"
