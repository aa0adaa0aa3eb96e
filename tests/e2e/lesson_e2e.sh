#!/usr/bin/env bash
# End to end on a display: the reference service with its demo content and the
# real client with its movie player. After login the first lesson must play
# in the player, its movies advancing by themselves in the order of the
# lesson's file list, and the next lesson of the catalogue must start when
# the first one is used up.
#
# Usage: lesson_e2e.sh PROGRAM_FOLDER MIRVO_SERVER MDEMO PORT
# With MIRVO_SCREENSHOTS=DIR set, a screenshot of the playing lesson is left there.
set -u
e2e_name=lesson_e2e
. "$(dirname "$0")/lib.sh"
program=$1 server=$2 mdemo=$3 port=$4
work=$(mktemp -d /tmp/mirvo-lesson-e2e-XXXXXX)
server_pid= client_pid=
cleanup() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "lesson_e2e: $*" >&2; echo "--- server log" >&2; cat "$work/server.log" >&2; exit 1; }
requests() { sed -n 's/.* GET \([^ ]*\) .*/\1/p' "$work/server.log" | sed 's/password=[^&]*/password=*/'; }

for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  fail "port $port is already taken; stop the service that holds it"
fi

"$server" init-demo "$work/site" "$work/db" --program "$mdemo" > "$work/init.log" 2>&1 || fail "init-demo failed"
"$server" serve --port "$port" --site "$work/site" --db "$work/db" > "$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q listening "$work/server.log" && break; sleep 0.1; done
grep -q listening "$work/server.log" || fail "the service did not start"

# The program folder as the build lays it out (player files included), with a
# profile that knows the demo user, so only the password has to be typed.
cp -a "$program" "$work/program"
printf '<user name="demo" order="1" /><default_user_name>demo</default_user_name>\r\n<auto_login>false</auto_login>' \
  > "$work/program/mirvo_user.xml"
export QT_QPA_PLATFORM=xcb
(cd "$work/program" && exec ./mirvo) > "$work/client.log" 2>&1 &
client_pid=$!

login=
for _ in $(seq 150); do
  login=$(xdotool search --onlyvisible --name "欢迎您进入Mirvo学习娱乐空间" 2>/dev/null | head -1)
  [ -n "$login" ] && break
  sleep 0.1
done
[ -n "$login" ] || fail "no login dialog"
sleep 0.5
xdotool windowactivate --sync "$login" 2>/dev/null
xdotool type --delay 30 "demo123"
xdotool key Return

# The first lesson's movies, then the second lesson (bounded wait).
for _ in $(seq 900); do
  requests | grep -q 'lesson_dir=eng02&action=lesson' && break
  kill -0 "$client_pid" 2>/dev/null || fail "the client ended: $(cat "$work/client.log")"
  [ "$(requests | grep -c '^/movies/')" -eq 2 ] && [ ! -e "$work/shot-taken" ] && { sleep 1; shot lesson_playing; touch "$work/shot-taken"; }
  sleep 0.1
done
requests | grep -q 'lesson_dir=eng02&action=lesson' || fail "the second lesson never started"
for _ in $(seq 100); do requests | grep -q '^/movies/eng02/0010/01.swf$' && break; sleep 0.1; done

# The whole sequence the player was asked for, in order.
got=$(requests | grep -E 'action=(baselist|lesson)$|^/movies/')
want=$(printf '%s\n' \
  '/service.aspx?user=demo&password=*&lesson_id=0010&lesson_dir=&action=baselist' \
  '/service.aspx?user=demo&password=*&lesson_id=0010&lesson_dir=eng01&action=lesson' \
  /movies/welcome_ad.swf /movies/eng01/0010/01.swf /movies/eng01/0010/02.swf /movies/eng01/0010/03.swf \
  '/service.aspx?user=demo&password=*&lesson_id=0010&lesson_dir=eng02&action=lesson' \
  /movies/eng02/0010/01.swf)
[ "$got" = "$want" ] || fail "unexpected sequence:
$got"

# The caption tells which movie of the lesson plays.
xdotool search --name "在线人数:.* 正在播放" >/dev/null 2>&1 || fail "no playing caption"

frame=$(xdotool search --name "Mirvo学习娱乐空间 版本" 2>/dev/null | head -1)
[ -n "$frame" ] || fail "no main frame"
xdotool windowactivate --sync "$frame" 2>/dev/null
xdotool key alt+F4
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$client_pid" 2>/dev/null && fail "client did not end after exit"
wait "$client_pid"
status=$?
client_pid=
[ "$status" -eq 1 ] || fail "client ended with status $status, not 1"
requests | tail -n 1 | grep -q 'action=logout$' || fail "no logout at the end"
echo "lesson_e2e: ok"
