#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the demo: the reference
# service on 127.0.0.1 with its demo content, and the client against it in a
# program folder of its own. The server stops when the client exits.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRVO_BUILD_DIR:-$here/build}

"$here/scripts/setup.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build" -j2

# A display: the desktop's own, or a virtual one when there is none.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display found; running on a virtual display" >&2
  exec "$here/scripts/with-display.sh" "$0" "$@"
fi

cd "$build/program"
exec ./mirvo
