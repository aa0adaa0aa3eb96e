#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRVO_BUILD_DIR:-$here/build}

"$here/scripts/setup.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2
cd "$build"
# Player and whole-program tests need a display: they run under their own Xvfb.
ctest --output-on-failure -j2 "$@"
