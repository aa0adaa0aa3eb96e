#!/usr/bin/env bash
# Lays out the demo site and database of mirvo-server in a folder and starts
# the service on 127.0.0.1.
#
#   scripts/demo-server.sh [--build DIR] [--folder DIR] [--port P] [--background]
#
# --build       build folder holding server/mirvo-server (default: build)
# --folder      where the site and database go (default: demo-run/server)
# --port        port to listen on (default: the deployment port the client uses)
# --background  start the service in the background, wait until it answers and
#               print its process id on the last line (stop it with kill <pid>)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
folder="$here/demo-run/server"
port=""
background=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --folder) folder="$2"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    --background) background=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--folder DIR] [--port P] [--background]" >&2; exit 2 ;;
  esac
done

server="$build/server/mirvo-server"
program="$build/server/demo/mdemo"
for f in "$server" "$program"; do
  if [ ! -x "$f" ]; then
    echo "demo-server: $f is missing; build the targets mirvo-server and mdemo first" >&2
    exit 1
  fi
done
# The built program folder: its client and updater are what publish-version
# offers as an update.
client_args=()
if [ -x "$build/program/mirvo" ] && [ -x "$build/program/mupdate" ]; then
  client_args=(--client "$build/program")
fi
# A build made with the demo key (the default) has its key pair beside it:
# the site's lists are signed with it, as the demo's client requires.
if [ -f "$build/update-key/demo-signing.key" ]; then
  client_args+=(--key "$build/update-key/demo-signing.key")
fi
if [ -z "$port" ]; then
  port=$(sed -n 's/^set(MIRVO_SERVER_PORT \([0-9]*\).*/\1/p' "$here/cmake/deployment.cmake")
fi

# Who listens on a local port: "name (pid N)", something vaguer when the
# process is not ours to see, nothing when the port is free.
port_holder() {
  local line=""
  if command -v ss >/dev/null 2>&1; then
    line=$(ss -Hltnp "sport = :$1" 2>/dev/null | head -n 1 || true)
  fi
  if [ -n "$line" ]; then
    case "$line" in
      *'users:(("'*) printf '%s\n' "$line" | sed 's/.*users:(("\([^"]*\)",pid=\([0-9]*\).*/\1 (pid \2)/' ;;
      *) echo "a process this user cannot see" ;;
    esac
  elif (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then
    echo "an unknown process"
  fi
}

# A service left over from an earlier run would answer in place of the new
# one, which could not bind; so a taken port is refused before anything starts.
holder=$(port_holder "$port")
if [ -n "$holder" ]; then
  echo "demo-server: port $port is already in use by $holder; stop it or choose another port with --port" >&2
  exit 1
fi

mkdir -p "$folder"
folder=$(cd "$folder" && pwd)
# Re-laying the site is cheap; the database keeps its users and messages.
"$server" init-demo "$folder/site" "$folder/mirvo.db" --program "$program" "${client_args[@]}" \
  --base-url "http://127.0.0.1:$port"

args=(serve --address 127.0.0.1 --port "$port" --site "$folder/site" --db "$folder/mirvo.db")
if [ "$background" -eq 0 ]; then
  exec "$server" "${args[@]}"
fi

log="$folder/server.log"
log_start=$(($(stat -c %s "$log" 2>/dev/null || echo 0) + 1))
"$server" "${args[@]}" >>"$log" 2>&1 &
pid=$!
# Up means: our process is alive, it says it bound the port (so no other
# listener can be the one answering), and the test page answers.
for _ in $(seq 1 50); do
  if ! kill -0 "$pid" 2>/dev/null; then break; fi
  # (grep reads all of it: with pipefail an early exit would fail the pipe)
  if tail -c "+$log_start" "$log" | grep -F "listening on http://127.0.0.1:$port/" >/dev/null &&
    [ "$(curl -s --max-time 1 "http://127.0.0.1:$port/testinternet.txt" || true)" = "your internet is ok!" ] &&
    kill -0 "$pid" 2>/dev/null; then
    echo "demo-server: serving http://127.0.0.1:$port/ (pid $pid, log: $log)"
    echo "$pid"
    exit 0
  fi
  sleep 0.2
done
echo "demo-server: the service (pid $pid) did not come up on port $port; from $log:" >&2
tail -c "+$log_start" "$log" | tail -n 5 >&2
kill "$pid" 2>/dev/null || true
exit 1
