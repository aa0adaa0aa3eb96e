#!/usr/bin/env bash
# Runs a command on a virtual display with a small window manager (captions,
# maximising and a tray need one), then tears both down.
# Usage: with-display.sh COMMAND [ARGS...]
set -u
here=$(cd "$(dirname "$0")" && pwd)
export ICEWM_PRIVCFG="$here/icewm"
exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" bash -c '
  icewm >/dev/null 2>&1 &
  wm=$!
  # Give the window manager a moment to take the display.
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break; sleep 0.1; done
  "$@"
  rc=$?
  kill $wm 2>/dev/null
  exit $rc
' with-display "$@"
