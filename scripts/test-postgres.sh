#!/usr/bin/env bash
# A PostgreSQL server of its own for tests and benchmarks: a fresh cluster
# in a folder, on loopback and a socket in that folder, no system service.
#
#   scripts/test-postgres.sh start DIR [PORT [PID]]   prints the database's URI
#   scripts/test-postgres.sh stop DIR                 stops it and removes DIR
#
# PORT: the TCP port on 127.0.0.1 (empty or left out: a free one). PID: a
# process whose end stops the server too, should it never say stop. The cluster's
# superuser is "mirvo", trusted without a password: the server accepts only
# loopback and its socket, and lives as long as the test. initdb refuses to
# run as root, so as root the cluster belongs to the user "nobody", in a
# folder of its own under /tmp (which nobody can reach, unlike DIR maybe);
# DIR/cluster names it.
set -euo pipefail

self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
bin=
for d in $(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V -r); do
  [ -x "$d/initdb" ] && { bin=$d; break; }
done
[ -n "$bin" ] || bin=$(dirname "$(command -v initdb || echo /nonexistent/initdb)")
[ -x "$bin/initdb" ] || { echo "test-postgres: no initdb (the postgresql package)" >&2; exit 1; }

as_owner=()
if [ "$(id -u)" -eq 0 ]; then as_owner=(runuser -u nobody --); fi

cmd=${1:-}
dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR [PORT]" >&2; exit 2; }

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

case $cmd in
start)
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  cluster=$dir
  if [ ${#as_owner[@]} -gt 0 ]; then
    cluster=$(mktemp -d /tmp/mirvo-pg-XXXXXX)
    chown nobody "$cluster"
    chmod 755 "$cluster"
  fi
  echo "$cluster" > "$dir/cluster"
  "${as_owner[@]}" "$bin/initdb" -D "$cluster/data" -U mirvo --auth=trust --encoding=UTF8 --locale=C \
    > "$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  # Light: a test's few connections, nothing kept for long, no fsync (a
  # test's data dies with it).
  cat >> "$cluster/data/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$cluster'
max_connections = 200
shared_buffers = 32MB
fsync = off
synchronous_commit = off
full_page_writes = off
logging_collector = off
EOF
  want=${3:-}
  for attempt in $(seq 20); do
    port=${want:-$((20000 + (RANDOM % 20000)))}
    port_free "$port" || { [ -n "$want" ] && { echo "test-postgres: port $port is taken" >&2; exit 1; }; continue; }
    if "${as_owner[@]}" "$bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -o "-p $port" -w -t 30 start \
         > "$dir/pg_ctl.log" 2>&1; then
      echo "$port" > "$dir/port"
      watch=${4:-}
      if [ -n "$watch" ]; then
        # Detached from the caller's output, which may be a pipe it reads to the end.
        setsid bash -c 'while kill -0 "$1" 2>/dev/null && [ -d "$2" ]; do sleep 1; done; "$3" stop "$2"' \
          watch "$watch" "$dir" "$self" < /dev/null > /dev/null 2>&1 &
      fi
      echo "postgresql://mirvo@127.0.0.1:$port/postgres"
      exit 0
    fi
    [ -n "$want" ] && break
  done
  cat "$dir/pg_ctl.log" "$cluster/server.log" >&2 2>/dev/null
  exit 1
  ;;
stop)
  cluster=$(cat "$dir/cluster" 2>/dev/null || true)
  if [ -n "$cluster" ] && [ -d "$cluster/data" ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$cluster/data" -m immediate -w stop > /dev/null 2>&1 || true
    rm -rf "$cluster"
  fi
  rm -rf "$dir"
  ;;
*)
  echo "usage: $0 start|stop DIR [PORT]" >&2
  exit 2
  ;;
esac
