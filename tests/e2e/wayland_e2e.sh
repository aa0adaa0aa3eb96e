#!/usr/bin/env bash
# End to end in a Wayland session: weston, nested in the test's X display,
# with Xwayland, and the reference service with its demo content.
#  - started as a Wayland session's menu starts it (WAYLAND_DISPLAY and
#    DISPLAY set, no QT_QPA_PLATFORM), the client runs through Xwayland:
#    logged in by keyboard, its lesson window comes up maximised above the
#    frame, and a message's notice rises at the bottom right without taking
#    the activation from the window that had it;
#  - asked for Wayland where no compositor answers, it starts on X11;
#  - asked for Wayland (QT_QPA_PLATFORM=wayland), it runs natively: it logs
#    in by itself and plays the first lesson.
# What the user sees is asked of the compositor itself (weston-debug's
# scene graph: every window's place and stacking).
#
# Usage: wayland_e2e.sh PROGRAM_FOLDER MIRVO_SERVER MDEMO PORT
# Runs on an X display of its own without a window manager (weston is the
# window manager). With MIRVO_SCREENSHOTS=DIR set, screenshots of the
# compositor's screen are left there.
set -u
e2e_name=wayland_e2e
. "$(dirname "$0")/lib.sh"
export LC_ALL=C.UTF-8
program=$1 server=$2 mdemo=$3 port=$4
work=$(mktemp -d /tmp/mirvo-wayland-e2e-XXXXXX)
server_pid= client_pid= weston_pid=
outer=$DISPLAY
width=1280 height=800
stop_client() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null && wait "$client_pid" 2>/dev/null
  client_pid=
}
cleanup() {
  stop_client
  [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null && wait "$weston_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "wayland_e2e: $*" >&2
  screen failure
  echo "--- client log" >&2; cat "$work/client.log" >&2
  echo "--- scene" >&2; scene >&2
  echo "--- weston log" >&2; tail -n 20 "$work/weston.log" >&2
  echo "--- server log" >&2; tail -n 20 "$work/server.log" >&2
  exit 1
}
# The compositor's screen as the user sees it: the outer display's.
screen() { DISPLAY=$outer shot "$1"; }
requests() { sed -n 's/.* GET \([^ ]*\) \([0-9]*\) .*/\1 \2/p' "$work/server.log"; }
# The compositor's views, top first: "LAYER<tab>WHAT<tab>X1 Y1 X2 Y2" a
# line, WHAT being a window's title in quotes or the compositor's words for
# the view (a window past the window manager has "no description").
scene() {
  timeout 5 weston-debug scene-graph 2>/dev/null | awk '
    /^Layer / { layer = $2 }
    /^\tView / { what = $0; sub(/^[^,]*, [^,]*, surface ID [0-9]*, /, "", what); sub(/, 0x[0-9a-f]*\):$/, "", what) }
    /^\t\tposition: / { gsub(/[(),>]/, " "); print layer "\t" what "\t" $2 " " $3 " " $5 " " $6 }'
}
# The first of the scene's views whose WHAT matches $1: "LAYER X1 Y1 X2 Y2".
scene_window() { scene | awk -F'\t' -v t="$1" '$2 ~ t { print $1 " " $3; exit }'; }
# The line number of that window in the scene (smaller is higher).
scene_rank() { scene | grep -n -m1 "'$1" | cut -d: -f1; }
absolute() { xwininfo -id "$1" | sed -n "s/.*Absolute upper-left $2: *\(-*[0-9]*\).*/\1/p"; }

(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && fail "port $port is already taken; stop the service that holds it"

"$server" init-demo "$work/site" "$work/db" --program "$mdemo" > "$work/init.log" 2>&1 || fail "init-demo failed"
"$server" add-user --db "$work/db" --iterations 1000 tester tester1 >> "$work/init.log" 2>&1 || fail "add-user failed"
"$server" serve --port "$port" --site "$work/site" --db "$work/db" > "$work/server.log" 2>&1 &
server_pid=$!
wait_for 'grep -q listening "$work/server.log"' 100 || fail "the service did not start"

# --- the session: weston in a window of the test's display, with Xwayland
export XDG_RUNTIME_DIR="$work/run"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[core]\nidle-time=0\n[shell]\nlocking=false\n' > "$work/weston.ini"
weston --backend=x11-backend.so --use-pixman --xwayland --width=$width --height=$height --socket=wayland-mirvo \
  --config="$work/weston.ini" --debug > "$work/weston.log" 2>&1 &
weston_pid=$!
wait_for '[ -S "$XDG_RUNTIME_DIR/wayland-mirvo" ] && grep -q "xserver listening on display" "$work/weston.log"' 150 ||
  fail "weston did not start"
xwayland=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log" | tail -1)
export WAYLAND_DISPLAY=wayland-mirvo DISPLAY=$xwayland XDG_SESSION_TYPE=wayland
unset QT_QPA_PLATFORM

cp -a "$program" "$work/program"
printf '<user name="tester" order="1" /><default_user_name>tester</default_user_name>\r\n<auto_login>false</auto_login>' \
  > "$work/program/mirvo_user.xml"
pin_browser "$work"
start_client() { (cd "$work/program" && exec ./mirvo) > "$work/client.log" 2>&1 & client_pid=$!; }

# --- a Wayland session's start: through Xwayland
step "started from a Wayland session"
start_client
login=$(wait_window "欢迎您进入Mirvo学习娱乐空间" 300) || fail "no login dialog on Xwayland"
sleep 1
screen login
xdotool windowactivate --sync "$login" 2>/dev/null
# The password, then the automatic-login box for the native start below.
xdotool type --delay 40 "tester1"
xdotool key Tab space Return
wait_for 'requests | grep -q "^/movies/eng01/0010/01.swf 200$"' 300 || fail "the first lesson did not play"
lesson=$(wait_window "在线人数:.* 正在播放" 50) || fail "no lesson window"
wait_window "Mirvo学习娱乐空间 版本" 10 > /dev/null || fail "no main frame"
sleep 2
screen lesson
xprop -id "$lesson" _NET_WM_STATE | grep -q '_NET_WM_STATE_MAXIMIZED_VERT, _NET_WM_STATE_MAXIMIZED_HORZ' ||
  fail "the lesson window is not maximised: $(xprop -id "$lesson" _NET_WM_STATE)"
lesson_rank=$(scene_rank "在线人数:") frame_rank=$(scene_rank "Mirvo学习娱乐空间 版本")
[ -n "$lesson_rank" ] && [ -n "$frame_rank" ] && [ "$lesson_rank" -lt "$frame_rank" ] ||
  fail "the frame covers the lesson window"

# The notice: at the bottom right, the activation where it was.
active=$(xdotool getactivewindow 2>/dev/null)
[ "$active" = "$lesson" ] || fail "the lesson window is not the active one ($active)"
"$server" post-message --db "$work/db" tester "你好，这是一条测试信息。" > /dev/null || fail "post-message failed"
notice=$(wait_window "您有新信息！" 40) || fail "no notice within 4 s"
# Risen to its rest: its bottom edge 32 pixels above the screen's (the
# last step up leaves it one pixel lower).
right=$((width - 5)) bottom=$((height - 31))
notice_bottom() { read -r _ x1 y1 x2 y2 < <(scene_window "no description") && [ "$y2" -le "$bottom" ]; }
wait_for notice_bottom 80
screen notice
x=$(absolute "$notice" X) y=$(absolute "$notice" Y) w=$(xdotool getwindowgeometry "$notice" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')
[ "$((x + w))" -le "$right" ] && [ "$((x + w))" -ge "$((right - 12))" ] && [ "$y" -gt "$((height / 2))" ] ||
  fail "the notice is at $x,$y (width $w), not at the bottom right"
echo "wayland_e2e: notice at $x,$y; compositor: ${x1:-?},${y1:-?} to ${x2:-?},${y2:-?}" >&2
[ "${x1:-0}" -gt "$((width / 2))" ] && [ "${y2:-0}" -le "$bottom" ] && [ "${y2:-0}" -gt "$((height / 2))" ] ||
  fail "the compositor shows the notice at ${x1:-?},${y1:-?} to ${x2:-?},${y2:-?}"
[ "$(xdotool getactivewindow 2>/dev/null)" = "$active" ] || fail "the notice took the activation"
stop_client
grep -q '<auto_login>true</auto_login>' "$work/program/mirvo_user.xml" || fail "automatic login was not kept"

# --- Wayland asked for where none answers: X11 instead of nothing at all
step "Wayland asked for, no compositor"
WAYLAND_DISPLAY=wayland-nowhere QT_QPA_PLATFORM=wayland start_client
login=$(wait_window "欢迎您进入Mirvo学习娱乐空间" 300) || fail "no login dialog after the platform failed"
xdotool windowactivate --sync "$login" 2>/dev/null
xdotool key Escape
wait_for '! kill -0 "$client_pid" 2>/dev/null' 100 || fail "Escape did not end the client"
client_pid=

# --- Wayland asked for: natively, logged in by itself
step "Wayland asked for"
logins=$(requests | grep -c 'action=login 200$')
QT_QPA_PLATFORM=wayland start_client
wait_for '[ "$(requests | grep -c "action=login 200$")" -gt "$logins" ]' 300 || fail "no login on Wayland"
wait_for '[ "$(requests | grep -c "^/movies/eng01/0010/01.swf 200$")" -ge 2 ]' 300 ||
  fail "the first lesson did not play on Wayland"
wait_for '[ -n "$(scene_window "在线人数:")" ]' 100 || fail "no lesson window on the compositor"
xdotool search --name "在线人数:" > /dev/null 2>&1 && fail "the lesson window went through Xwayland"
sleep 2
screen native
kill -0 "$client_pid" 2>/dev/null || fail "the client ended on Wayland"
stop_client
echo "wayland_e2e: ok"
