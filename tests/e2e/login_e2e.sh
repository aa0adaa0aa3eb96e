#!/usr/bin/env bash
# End to end on a display: the reference service with its demo content, and
# the client started twice in a program folder of its own. The first start
# logs in as a demo user by keyboard with automatic login switched on; the
# second start logs in by itself after its countdown. Each time the frame
# must come up maximised and exit must log out and end with status 1. On the
# first start the dialog's own controls are looked at: the statics' light
# blue, the login button's orange frame under the mouse, and the
# registration link, which must open its page in the browser.
#
# Usage: login_e2e.sh MIRVO MIRVO_SERVER MDEMO PORT
# With MIRVO_SCREENSHOTS=DIR set, screenshots of the login dialog and the
# frame are left in DIR.
set -u
e2e_name=login_e2e
. "$(dirname "$0")/lib.sh"
mirvo=$1 server=$2 mdemo=$3 port=$4
work=$(mktemp -d /tmp/mirvo-e2e-XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "login_e2e: $*" >&2; echo "--- server log" >&2; cat "$work/server.log" >&2; exit 1; }
# The colour of pixel ($2, $3) of window $1, as "srgb(r,g,b)".
pixel() { import -window "$1" "$work/window.png" && convert "$work/window.png" -format "%[pixel:p{$2,$3}]" info:; }


# Maximising needs the window manager: give it time to take the display.
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" || fail "no window manager on the display"

# The client's server addresses are built in: the service must get their port.
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  fail "port $port is already taken; stop the service that holds it"
fi

"$server" init-demo "$work/site" "$work/db" --program "$mdemo" > "$work/init.log" 2>&1 || fail "init-demo failed: $(cat "$work/init.log")"
"$server" serve --port "$port" --site "$work/site" --db "$work/db" > "$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q listening "$work/server.log" && break; sleep 0.1; done
grep -q listening "$work/server.log" || fail "the service did not start"

prog="$work/program"
mkdir -p "$prog/help" "$prog/dl"
cp "$mirvo" "$prog/mirvo"
printf '<mirvo>3.8</mirvo>\r\n' > "$prog/mirvo.xml"
pin_browser "$work"
export QT_QPA_PLATFORM=xcb

# Runs the client; $1 says how to log in: "keys" or "auto".
run_client() {
  (cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
  local pid=$!
  local login
  login=$(wait_window "欢迎您进入Mirvo学习娱乐空间" 100) || fail "no login dialog"
  if [ "$1" = keys ]; then
    sleep 0.5
    shot login
    # The statics stand on the dialog's light blue; the login button shows
    # its orange frame (left line) only under the mouse.
    [ "$(pixel "$login" 40 77)" = "srgb(228,239,255)" ] || fail "the user label is $(pixel "$login" 40 77)"
    [ "$(pixel "$login" 80 187)" = "srgb(250,196,88)" ] && fail "a hover frame without the mouse"
    xdotool mousemove --window "$login" 110 187
    sleep 0.5
    [ "$(pixel "$login" 80 187)" = "srgb(250,196,88)" ] || fail "no hover frame: $(pixel "$login" 80 187)"
    # The registration link opens its page from its text.
    xdotool mousemove --window "$login" 250 186 click 1
    for _ in $(seq 50); do [ -s "$work/browser.log" ] && break; sleep 0.1; done
    [ "$(cat "$work/browser.log" 2>/dev/null)" = "http://127.0.0.1:$port/reg.aspx" ] ||
      fail "the registration link opened \"$(cat "$work/browser.log" 2>/dev/null)\""
    xdotool mousemove --window "$login" 5 5
    xdotool windowactivate --sync "$login" 2>/dev/null
    # Focus starts in the password field: back to the user name, then the
    # password, then the automatic-login box, and Enter.
    xdotool key --clearmodifiers shift+Tab
    xdotool type --delay 30 "demo"
    xdotool key Tab
    xdotool type --delay 30 "demo123"
    xdotool key Tab space
    sleep 0.3
    shot login_typed
    xdotool key Return
  else
    sleep 1.2
    shot login_countdown
  fi
  local frame
  frame=$(wait_window "Mirvo学习娱乐空间 版本3.8" 150) || fail "no main frame after login ($1)"
  # The frame comes up before the lesson window it owns: start-up ends with it.
  wait_window "在线人数:" 150 > /dev/null || fail "no lesson window after login ($1)"
  sleep 1
  shot "frame_$1"
  # Maximised: as wide as the screen.
  local width
  width=$(xdotool getwindowgeometry "$frame" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
  [ "${width:-0}" -ge 1200 ] || fail "frame is not maximised (width ${width:-?})"
  xdotool windowactivate --sync "$frame" 2>/dev/null
  xdotool key alt+F4
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "client did not end after exit"; }
  wait "$pid"
  local status=$?
  [ "$status" -eq 1 ] || fail "client ended with status $status, not 1: $(cat "$work/client.log")"
}

# Escape on the login dialog ends the program with status 1, before any
# request and without a frame.
(cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
pid=$!
login=$(wait_window "欢迎您进入Mirvo学习娱乐空间" 100) || fail "no login dialog"
sleep 0.3
xdotool windowactivate --sync "$login" 2>/dev/null
xdotool key Escape
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && { kill "$pid"; fail "Escape did not end the client"; }
wait "$pid"
status=$?
[ "$status" -eq 1 ] || fail "Escape ended the client with status $status, not 1"
grep -q " GET " "$work/server.log" && fail "requests were sent before any login"

run_client keys
grep -q '<auto_login>true</auto_login>' "$prog/mirvo_user.xml" || fail "profile does not keep automatic login"
grep -q '<default_user_name>demo</default_user_name>' "$prog/mirvo_user.xml" || fail "profile lacks the user"
run_client auto

# The service saw, per start: test page, version document, login, and at the
# end logout (the lesson window's own requests come in between).
sed -n 's/.* GET \([^ ]*\) .*/\1/p' "$work/server.log" | sed 's/password=[^&]*/password=*/' |
  grep -E '^/testinternet.txt$|^/mirvo.xml$|action=login$|action=logout$' > "$work/paths"
expected=$(for _ in 1 2; do
  printf '%s\n' /testinternet.txt /mirvo.xml '/service.aspx?user=demo&password=*&action=login' \
    '/service.aspx?user=demo&password=*&lesson_id=0010&lesson_dir=logout&action=logout'
done)
[ "$(cat "$work/paths")" = "$expected" ] || fail "unexpected requests: $(cat "$work/paths")"
echo "login_e2e: ok"
