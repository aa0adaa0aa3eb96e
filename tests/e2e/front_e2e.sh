#!/usr/bin/env bash
# End to end on a display, the service past one machine: PostgreSQL, two
# instances of mirvo-server over it and nginx in front with the repository's
# configuration, all on loopback in a network namespace of the test's own
# (run it under scripts/with-netns.sh). The real client talks to the front
# only:
#  - it logs in and plays a lesson (the movies come from nginx, the request
#    page from the instances);
#  - the instance that answers it is killed with -9 while the lesson polls:
#    the other one goes on, and the client notices nothing;
#  - it sends a suggestion, logs out, and in a second session installs the
#    catalogue's program through the updater and takes its newer version;
#  - every request through the front succeeded, and every write the client
#    was told of (the suggestion, the program starts) is in the database;
#  - then migrate, and the copy of the demo's SQLite database into
#    PostgreSQL.
#
# Usage: front_e2e.sh PROGRAM_FOLDER MIRVO_SERVER MDEMO PORT SOURCE_DIR [SIGNING_KEY]
# PORT: the front's (the client's configured port); the instances take the
# two after it. With MIRVO_SCREENSHOTS=DIR set, screenshots are left there.
set -u
e2e_name=front_e2e
. "$(dirname "$0")/lib.sh"
program=$1 server=$2 mdemo=$3 port=$4 source_dir=$5 key=${6:-}
key_args=()
[ -n "$key" ] && key_args=(--key "$key")
ports=("$((port + 1))" "$((port + 2))")
work=$(mktemp -d /tmp/mirvo-front-e2e-XXXXXX)
chmod 755 "$work"
prog="$work/program"
program_folder=$prog
pids=("" "")
cleanup() {
  for pid in $(ours); do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do [ -n "$pid" ] && kill "$pid" 2>/dev/null; done
  "$source_dir/scripts/test-nginx.sh" stop "$work/front" 2>/dev/null
  "$source_dir/scripts/test-postgres.sh" stop "$work/pg" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "front_e2e: $*" >&2
  shot failure
  echo "--- front" >&2; tail -n 30 "$work/front/requests.log" >&2 2>/dev/null
  tail -n 10 "$work/front/error.log" >&2 2>/dev/null
  for i in 0 1; do echo "--- instance $i" >&2; tail -n 15 "$work/instance$i.log" >&2; done
  echo "--- client" >&2; tail -n 20 "$work/client.log" >&2
  exit 1
}
ours() { running mirvo; running mupdate; running mdemo.exe; }
# What the front was asked, with its status and the instance that answered
# (after those that failed): "TARGET STATUS UPSTREAM", password values as "*".
requests() {
  sed -n 's/^[^ ]* "GET \([^ ]*\) HTTP[^"]*" \([0-9]*\) upstream="\([^"]*, \)*\([^"]*\)".*/\1 \2 \4/p' \
    "$work/front/requests.log" | sed 's/password=[^& ]*/password=*/'
}
sql() { psql -qAt "$uri" -c "$1"; }
start_instance() {
  "$server" serve --port "${ports[$1]}" --site "$work/site" --db "$uri" --trusted-front 127.0.0.1 \
    > "$work/instance$1.log" 2>&1 &
  pids[$1]=$!
}
play_again() {
  local lessons
  lessons=$(wait_window "在线人数:" 100) || fail "no lesson window"
  xdotool windowactivate --sync "$lessons" 2>/dev/null
  xdotool mousemove --window "$lessons" 76 19 click 1
}
log_out() {
  local frame
  frame=$(wait_window "Mirvo学习娱乐空间 版本" 50) || fail "no main frame"
  close_client "$frame"
}

for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
for p in "$port" "${ports[@]}"; do
  (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && fail "port $p is already taken (run the test in a network namespace)"
done

# --- PostgreSQL, the schema, the demo's content in it; two instances, nginx.
step "PostgreSQL, two instances, the front"
uri=$("$source_dir/scripts/test-postgres.sh" start "$work/pg" "" $$) || fail "PostgreSQL did not start"
"$server" serve --site "$work" --db "$uri" --port 0 > "$work/early.log" 2>&1 &&
  fail "an instance started on a database without its schema"
grep -q "migrate" "$work/early.log" || fail "an unprepared database was not named as such: $(cat "$work/early.log")"
"$server" migrate --db "$uri" > "$work/migrate.log" 2>&1 || fail "migrate failed: $(cat "$work/migrate.log")"
"$server" init-demo "$work/site" "$uri" --program "$mdemo" --iterations 1000 "${key_args[@]}" > "$work/init.log" 2>&1 ||
  fail "init-demo failed: $(cat "$work/init.log")"
# The lesson waits at its second movie (a negative delay) and polls on.
printf '%s\n' 'movie_folder	movies' 'category	英语乐园' 'subcategory	基础英语' 'lesson	字母歌	eng01' \
  'file	01.swf	0' 'file	02.swf	-1' 'category	科学与游戏' 'subcategory	益智游戏' \
  'program	演示程序	mdemo	game	mdemo.exe' > "$work/lesson_first.txt"
printf '%s\n' 'movie_folder	movies' 'category	科学与游戏' 'subcategory	益智游戏' \
  'program	演示程序	mdemo	game	mdemo.exe' 'category	英语乐园' 'subcategory	基础英语' \
  'lesson	字母歌	eng01' 'file	01.swf	0' > "$work/program_first.txt"
"$server" import-catalogue --db "$uri" "$work/lesson_first.txt" > /dev/null || fail "import-catalogue failed"
start_instance 0
start_instance 1
for i in 0 1; do wait_for "grep -q listening '$work/instance$i.log'" 100 || fail "instance $i did not start"; done
"$source_dir/scripts/test-nginx.sh" start "$work/front" "$work/site" "$port" "${ports[@]}" 2> "$work/nginx.err" ||
  fail "nginx did not start: $(cat "$work/nginx.err")"

cp -a "$program" "$prog"
rm -f "$prog/mdemo.exe" "$prog/mdemo.xml"
printf '<user name="demo" order="1" /><default_user_name>demo</default_user_name>\r\n<auto_login>false</auto_login>' \
  > "$prog/mirvo_user.xml"
export QT_QPA_PLATFORM=xcb

# --- A lesson plays; the instance that answers the client is killed.
step "a lesson through the front"
(cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
log_in
wait_for 'requests | grep -q "^/movies/eng01/0010/02.swf 200 -$"' 600 || fail "the lesson did not play through the front"
sleep 1.5
shot lesson_playing
serving=$(requests | grep 'action=lesson 200' | tail -1 | sed 's/.* //')
case $serving in
  "127.0.0.1:${ports[0]}") victim=0 ;;
  "127.0.0.1:${ports[1]}") victim=1 ;;
  *) fail "the lesson did not come from an instance: $serving" ;;
esac
other=$((1 - victim))
polls_before=$(requests | grep -c 'action= 200')
step "killing instance $victim (-9) while the lesson polls"
kill -9 "${pids[$victim]}"
wait "${pids[$victim]}" 2>/dev/null
pids[$victim]=
wait_for "[ \$(requests | grep 'action= 200 ' | grep -c '${ports[$other]}\$') -ge 2 ]" 150 ||
  fail "the polls did not go on at the other instance"
[ "$(requests | grep -c 'action= 200')" -gt "$polls_before" ] || fail "no poll after the kill"
[ -n "$(running mirvo)" ] || fail "the client ended"
xdotool search --onlyvisible --name '^mirvo$' > /dev/null 2>&1 && fail "the client showed a message box"
# What the killed instance acknowledged before it died is kept: the login's
# record of the address the user came from (the one instance had them all).
[ "$(sql "SELECT COUNT(*) FROM good_logins g JOIN users u ON u.id = g.user_id
          WHERE u.name = 'demo'::bytea AND g.address = '127.0.0.1'")" = 1 ] ||
  fail "the login the killed instance acknowledged is not stored"

# --- A suggestion from the toolbar, then the end of the session.
step "a suggestion through the front"
lesson=$(wait_window "在线人数:" 50) || fail "no lesson window"
frame=$(wait_window "Mirvo学习娱乐空间 版本" 10) || fail "no main frame"
xdotool windowactivate --sync "$lesson" 2>/dev/null
xdotool key alt+F4
sleep 1
xdotool mousemove --window "$frame" 62 45 click 1
dialog=$(wait_window "感谢您给我们提建议" 50) || fail "no suggestion dialog"
xdotool windowactivate --sync "$dialog" 2>/dev/null
xdotool mousemove --window "$dialog" 200 51 click 1
sleep 0.5
xdotool key End Return
xdotool mousemove --window "$dialog" 150 120 click 1
xdotool type --delay 40 "two instances and one front"
sleep 2.5
xdotool mousemove --window "$dialog" 435 42 click 1
wait_for 'requests | grep -q "action=save_suggest.* 200 "' 50 || fail "the suggestion was not acknowledged"
sleep 0.5
xdotool key Return
wait_for '[ "$(sql "SELECT COUNT(*) FROM suggestions")" = 1 ]' 30 || fail "an acknowledged suggestion is not stored"
sql "SELECT convert_from(content, 'UTF8') FROM suggestions" | grep -qx "two instances and one front" ||
  fail "the suggestion was stored as: $(sql 'SELECT content FROM suggestions')"
log_out
requests | tail -n 1 | grep -q 'action=logout 200 ' || fail "no logout at the end"

# --- The catalogue's program, installed and updated through the front.
step "the program's install and update through the front"
"$server" import-catalogue --db "$uri" "$work/program_first.txt" > /dev/null || fail "import-catalogue failed"
(cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
log_in
wait_window "正在从互联网上下载资料......" 300 > /dev/null || fail "the updater did not come up for the program"
answer "^mupdate$" Return
wait_gone mupdate 300 || fail "the updater did not end"
grep -q '<version>1.0</version>' "$prog/mdemo.xml" || fail "the program was not installed"
"$server" publish-program --site "$work/site" "${key_args[@]}" 1.1 > /dev/null || fail "publish-program failed"
play_again
answer "^mirvo$" Return
wait_window "正在从互联网上下载资料......" 300 > /dev/null || fail "the updater did not come up for the new version"
answer "^mupdate$" Return
wait_gone mupdate 300 || fail "the updater did not end"
grep -q '<version>1.1</version>' "$prog/mdemo.xml" || fail "the new version was not installed"
play_again
wait_window "^mdemo$" 150 > /dev/null || fail "the updated program did not start"
shot program_updated
log_out

# --- What went through the front: no failure, nothing acknowledged lost.
step "the front's account"
requests | grep -q '^//dl/download_mdemo.xml 200 -$' || fail "the doubled slash of the list's address did not reach its file"
failed=$(requests | awk '$2 !~ /^(200|206|304)$/')
[ -z "$failed" ] || fail "requests failed through the front:
$failed"
[ -z "$(requests | grep '^/movies/.* 127\.')" ] || fail "movies went to an instance, not to nginx"
[ "$(sql "SELECT COUNT(*) FROM game_starts")" = "$(requests | grep -c 'action=game 200 ')" ] ||
  fail "program starts acknowledged: $(requests | grep -c 'action=game 200 '), stored: $(sql 'SELECT COUNT(*) FROM game_starts')"
[ "$(sql "SELECT COUNT(*) FROM users WHERE last_seen > 0")" = 0 ] || fail "someone is still online after the logouts"

# --- migrate, and the demo's SQLite database copied into PostgreSQL.
step "migrate and the copy of the demo database"
"$server" init-demo "$work/site-sqlite" "$work/demo.db" --program "$mdemo" --iterations 1000 > /dev/null ||
  fail "init-demo into SQLite failed"
"$server" post-message --db "$work/demo.db" xiaoming "复制以前" > /dev/null || fail "post-message failed"
copy_uri=${uri%/*}/copied
sql "CREATE DATABASE copied" || fail "no database for the copy"
"$server" copy-db --from "$work/demo.db" --db "$copy_uri" > "$work/copy.log" 2>&1 &&
  fail "copied into a database without its schema"
"$server" migrate --db "$copy_uri" > /dev/null || fail "migrate of the copy's database failed"
"$server" migrate --db "$copy_uri" | grep -q "up to date" || fail "a second migrate did not find the schema up to date"
"$server" copy-db --from "$work/demo.db" --db "$copy_uri" > "$work/copy.log" 2>&1 || fail "copy-db failed: $(cat "$work/copy.log")"
grep -q '^messages: 5 rows$' "$work/copy.log" || fail "the copy did not count the messages: $(cat "$work/copy.log")"
[ "$("$server" users --db "$copy_uri")" = "$("$server" users --db "$work/demo.db")" ] || fail "the copy's users differ"
"$server" copy-db --from "$work/demo.db" --db "$copy_uri" > /dev/null 2>&1 && fail "copied twice into one database"
echo "front_e2e: ok"
