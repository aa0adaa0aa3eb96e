#!/usr/bin/env bash
# Sets up the machine, builds everything and runs the demo: the reference
# service on 127.0.0.1 with its demo content, and the client against it in a
# program folder of its own (demo-run/client), with the updater beside it.
# The service stops when the client (and an updater it started) has ended.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRVO_BUILD_DIR:-$here/build}

if [ -z "${MIRVO_DEMO_BUILT:-}" ]; then
  "$here/scripts/setup.sh"
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRVO_GUI=ON -DMIRVO_SERVER=ON -DMIRVO_BENCH=ON -DMIRVO_SANITIZE=OFF >/dev/null
  ninja -C "$build" -j2
  export MIRVO_DEMO_BUILT=1
fi

# A display: the desktop's own, or a virtual one when there is none.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display found; running on a virtual display" >&2
  exec "$here/scripts/with-display.sh" "$0" "$@"
fi

pid=$("$here/scripts/demo-server.sh" --build "$build" --background | tail -n 1)
trap 'kill "$pid" 2>/dev/null || true' EXIT

# The demo's program folder: a fresh copy of the built one, keeping what the
# client wrote there before (known users, saved passwords, downloads).
client="$here/demo-run/client"
mkdir -p "$client"
cp -a "$build/program/." "$client/"

cat <<'USERS'
demo: log in with one of these users (user / password):
  demo     / demo123
  xiaoming / xm2026
  小红     / hong88
USERS

# The client may hand over to the updater, which starts the client again
# when it is done: the service stays up while either runs from this folder.
running_here() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    case "${exe% (deleted)}" in
      "$client/mirvo" | "$client/mupdate") return 0 ;;
    esac
  done
  return 1
}

cd "$client"
./mirvo || true
while running_here; do sleep 1; done
