#!/usr/bin/env bash
# Runs a command in a private network namespace with its loopback up, so that
# what it binds on 127.0.0.1 (the service's fixed port, thousands of
# connections) meets nobody else's: as root, or through a user namespace
# where the system allows one. Where neither is allowed (a locked-down
# container) the command runs as it is.
# Usage: with-netns.sh COMMAND [ARGS...]
set -u
flags=
if command -v ip >/dev/null 2>&1; then
  if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
    flags=-n
  elif unshare -rn true 2>/dev/null; then
    flags=-rn
  fi
fi
if [ -z "$flags" ]; then
  echo "with-netns: no private network namespace here; running in the machine's own" >&2
  exec "$@"
fi
exec unshare $flags bash -c 'ip link set lo up && exec "$@"' with-netns "$@"
