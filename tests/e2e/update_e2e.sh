#!/usr/bin/env bash
# End to end on a display: the reference service with its demo content, the
# real client and the real updater in a program folder of their own.
#
# Programs: the catalogue's first entry is the demo program, not installed.
# The lesson window hands it to the updater, which installs it; "播放" then
# starts it with the user's name and password as arguments. A newer version
# published on the service is offered, installed and started the same way.
#
# Client update: a newer client published on the service is offered at
# login; Yes starts the updater, which installs the client's files (through
# a proxy that slows the first seconds of every download, so its window can
# be seen at work), leaves the new updater in dl/ and starts the client
# again, which comes back with the new version in its caption and takes the
# new updater over.
#
# Signed lists: with the build's demo key the service signs every list and
# the programs check it. A list altered by one byte on the service is
# refused: the client leaves it out of dl/, the updater says it found no
# update and nothing is installed.
#
# Rollback and freeze (with a key): the older signed list served again
# behind a version document that claims 99999 is offered but refused by the
# updater, which says why; the next real release is still offered; a signed
# version document from long ago is said in the client's caption.
#
# Usage: update_e2e.sh PROGRAM_FOLDER MIRVO_SERVER MDEMO SLOW_RELAY PORT [SIGNING_KEY MIRVO_SIGN]
# SIGNING_KEY: the private key the programs' configured key belongs to;
# empty for a build that checks no signatures. MIRVO_SIGN signs by hand.
# With MIRVO_SCREENSHOTS=DIR set, screenshots are left in DIR.
set -u
e2e_name=update_e2e
. "$(dirname "$0")/lib.sh"
program=$1 server=$2 mdemo=$3 relay=$4 port=$5 key=${6:-} sign=${7:-}
key_args=()
[ -n "$key" ] && key_args=(--key "$key")
relay_port=$((port + 1))
work=$(mktemp -d /tmp/mirvo-update-e2e-XXXXXX)
prog="$work/program"
program_folder=$prog
server_pid= relay_pid=
cleanup() {
  for pid in $(ours); do kill "$pid" 2>/dev/null; done
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "update_e2e: $*" >&2
  shot failure
  echo "--- server log" >&2
  tail -n 40 "$work/server.log" >&2
  echo "--- windows" >&2
  for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do echo "$w $(xdotool getwindowname "$w")" >&2; done
  exit 1
}
requests() { sed -n 's/.* GET \([^ ]*\) .*/\1/p' "$work/server.log" | sed 's/password=[^&]*/password=*/'; }

ours() { running mirvo; running mupdate; running mdemo.exe; }

# Starts the client, logs in and accepts the update it offers; the updater
# comes up with a box that refuses the list (left in screenshot $1), ends
# when it is answered and starts nothing.
accept_a_refused_update() {
  (cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
  log_in
  answer "^mirvo$" Return
  wait_gone mirvo 150 || fail "the client did not end for the update"
  wait_window "^mupdate$" 300 > /dev/null || fail "the updater did not come up"
  sleep 1
  shot "$1"
  answer "^mupdate$" Return
  wait_gone mupdate 100 || fail "the updater did not end after refusing the list ($1)"
  [ -z "$(running mirvo)" ] || fail "the updater started the client after refusing the list ($1)"
}
# The user name and password the running demo program was given, one a line.
program_arguments() { tr '\0' '\n' < "/proc/$1/cmdline" | tail -n +2; }

for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
for p in "$port" "$relay_port"; do
  (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && fail "port $p is already taken; stop the service that holds it"
done

# The site offers the built client and updater as the client's update, and
# a catalogue whose first entry is the demo program.
"$server" init-demo "$work/site" "$work/db" --program "$mdemo" --client "$program" "${key_args[@]}" > "$work/init.log" 2>&1 ||
  fail "init-demo failed: $(cat "$work/init.log")"
printf '%s\n' 'movie_folder	movies' 'category	科学与游戏' 'subcategory	益智游戏' \
  'program	演示程序	mdemo	game	mdemo.exe' 'category	英语乐园' 'subcategory	基础英语' \
  'lesson	字母歌	eng01' 'file	01.swf	0' > "$work/catalogue.txt"
"$server" import-catalogue --db "$work/db" "$work/catalogue.txt" > /dev/null || fail "import-catalogue failed"
"$server" serve --port "$port" --site "$work/site" --db "$work/db" > "$work/server.log" 2>&1 &
server_pid=$!
"$relay" "$relay_port" "$port" 262144 4 > "$work/relay.log" 2>&1 &
relay_pid=$!
for _ in $(seq 100); do grep -q listening "$work/server.log" && grep -q listening "$work/relay.log" && break; sleep 0.1; done
grep -q listening "$work/server.log" || fail "the service did not start"
grep -q listening "$work/relay.log" || fail "the relay did not start"

cp -a "$program" "$prog"
[ -x "$prog/mupdate" ] || fail "the program folder has no updater"
rm -f "$prog/mdemo.exe" "$prog/mdemo.xml"
printf '<user name="demo" order="1" /><default_user_name>demo</default_user_name>\r\n<auto_login>false</auto_login>' \
  > "$prog/mirvo_user.xml"
export QT_QPA_PLATFORM=xcb

# --- A program of the catalogue: installed through the updater, then started.
step "the program's hand-over"
(cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
log_in
wait_window "正在从互联网上下载资料......" 300 > /dev/null || fail "the updater did not come up for the program"
answer "^mupdate$" Return
wait_gone mupdate 300 || fail "the updater did not end"
[ -x "$prog/mdemo.exe" ] || fail "the program was not installed (or cannot run)"
grep -q '<version>1.0</version>' "$prog/mdemo.xml" || fail "the program's version was not recorded"
[ ! -e "$prog/dl/download.xml" ] || fail "the updater left its list"
[ -n "$(running mirvo)" ] || fail "the client did not keep running"

play_again() {
  local lessons
  lessons=$(wait_window "在线人数:" 100) || fail "no lesson window"
  xdotool windowactivate --sync "$lessons" 2>/dev/null
  xdotool mousemove --window "$lessons" 76 19 click 1
}
step "the program's start"
play_again
wait_window "^mdemo$" 150 > /dev/null || fail "the program did not start"
sleep 1
shot program_started
pid=$(running mdemo.exe | head -1)
[ "$(program_arguments "$pid")" = "$(printf 'user_name=demo\nuser_password=demo123')" ] ||
  fail "the program got other arguments: $(program_arguments "$pid")"
[ "$(readlink "/proc/$pid/cwd")" = "$prog" ] || fail "the program does not run in the program folder"
kill "$pid"

# A newer version of the program is offered; Yes installs it.
step "the program's update"
"$server" publish-program --site "$work/site" "${key_args[@]}" 1.1 > /dev/null || fail "publish-program failed"
play_again
answer "^mirvo$" Return
wait_window "正在从互联网上下载资料......" 300 > /dev/null || fail "the updater did not come up for the new version"
answer "^mupdate$" Return
wait_gone mupdate 300 || fail "the updater did not end"
grep -q '<version>1.1</version>' "$prog/mdemo.xml" || fail "the new version was not recorded"
step "the updated program's start"
play_again
wait_window "^mdemo$" 150 > /dev/null || fail "the updated program did not start"
for pid in $(running mdemo.exe); do kill "$pid"; done
requests | grep -c 'action=game$' | grep -qx 4 || fail "the service did not hear of every start"

frame=$(wait_window "Mirvo学习娱乐空间 版本3.8" 50) || fail "no main frame"
close_client "$frame"

# The published updater differs from the installed one by a few trailing bytes.
printf 'e2e' >> "$work/site/dl/mupdate.new"
new_updater=$(md5sum < "$work/site/dl/mupdate.new")
# The list of 3.8 as its service signed it, to be served again later.
cp "$work/site/dl/download.xml" "$work/list_3.8.xml"
[ -n "$key" ] && cp "$work/site/dl/download.xml.sig" "$work/list_3.8.xml.sig"
"$server" publish-version --site "$work/site" "${key_args[@]}" 3.9 "新版本" > /dev/null || fail "publish-version failed"

# --- A list altered on its way: one byte of the signed list changed.
if [ -n "$key" ]; then
  step "an altered list"
  cp "$work/site/dl/download.xml" "$work/signed_list.xml"
  sed -i 's/save_as="mirvo"/save_as="mirvp"/' "$work/site/dl/download.xml"
  cmp -s "$work/site/dl/download.xml" "$work/signed_list.xml" && fail "the list was not altered"
  # The updater finds no list and says so; the box is all it shows.
  accept_a_refused_update altered_list_refused
  [ ! -e "$prog/dl/download.xml" ] || fail "the client left the altered list for the updater"
  [ ! -e "$prog/mirvp" ] || fail "the altered list was installed"
  grep -q '<mirvo>3.8</mirvo>' "$prog/mirvo.xml" || fail "the version changed without an update"
  requests | grep -qx '//dl/download.xml.sig' || fail "the client did not fetch the signature"
  cp "$work/signed_list.xml" "$work/site/dl/download.xml"
fi

# --- The client's update, through the slow proxy.
step "the client's update"
(cd "$prog" && exec env http_proxy="http://127.0.0.1:$relay_port" ./mirvo) > "$work/client.log" 2>&1 &
log_in
answer "^mirvo$" Return
updater=$(wait_window "正在从互联网上下载资料......" 300) || fail "the updater did not come up for the client"
sleep 1.5
shot updater_downloading
xdotool getwindowname "$updater" | grep -q "正在从互联网上下载资料" || fail "the updater's caption changed"
# The client comes back before the updater's final box; the box is answered
# once the login dialog has settled, so the key goes where it is meant.
wait_window "欢迎您进入Mirvo学习娱乐空间" 600 > /dev/null || fail "the client did not come back"
sleep 1
answer "^mupdate$" Return
wait_gone mupdate 100 || fail "the updater did not end"
[ -x "$prog/dl/mupdate" ] || fail "the new updater does not wait in dl"
[ ! -e "$prog/dl/mupdate.new" ] || fail "the updater's download was left behind"
grep -q '<mirvo>3.9</mirvo>' "$prog/mirvo.xml" || fail "the new version was not recorded"
cmp -s "$prog/mirvo" "$program/mirvo" || fail "the client was not installed"

# The client comes back by itself: log in, see the new version.
step "the updated client"
log_in
frame=$(wait_window "Mirvo学习娱乐空间 版本3.9" 200) || fail "the client did not come back with version 3.9"
sleep 1
shot client_updated
[ ! -e "$prog/dl/mupdate" ] || fail "the login did not take the new updater over"
[ -x "$prog/mupdate" ] || fail "the updater cannot run after the take-over"
[ "$(md5sum < "$prog/mupdate")" = "$new_updater" ] || fail "the updater is not the published one"
close_client "$frame"
requests | grep -qx '//dl/download.xml' || fail "the client did not fetch the list"
if [ -n "$key" ]; then
  requests | grep -qx '//dl/download_mdemo.xml.sig' || fail "the program's list signature was not fetched"
fi

if [ -n "$key" ]; then
  # --- Rollback: someone on the way serves the older signed list and a
  # version document that claims 99999. The offer comes (the document says
  # so), but the updater refuses the list and says why; nothing changes.
  step "an older signed list behind a lying version document"
  client_before=$(md5sum < "$prog/mirvo")
  cp "$work/site/dl/download.xml" "$work/list_3.9.xml"
  cp "$work/list_3.8.xml" "$work/site/dl/download.xml"
  cp "$work/list_3.8.xml.sig" "$work/site/dl/download.xml.sig"
  printf '<mirvo>99999</mirvo><show_message>!</show_message>\r\n' > "$work/site/mirvo.xml"
  rm -f "$work/site/mirvo.xml.sig"
  accept_a_refused_update older_list_refused
  [ "$(md5sum < "$prog/mirvo")" = "$client_before" ] || fail "the older list was installed"
  grep -q '<mirvo>3.9</mirvo>' "$prog/mirvo.xml" || fail "the recorded version changed: $(cat "$prog/mirvo.xml")"
  grep -q 'not signed with the update key' "$work/client.log" || fail "the client did not log the unsigned version document"

  # The next real release is still offered.
  step "the next release after the refused one"
  cp "$work/list_3.9.xml" "$work/site/dl/download.xml"
  "$server" publish-version --site "$work/site" "${key_args[@]}" 4.0 "新版本" > /dev/null || fail "publish-version 4.0 failed"
  (cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
  log_in
  offer=$(wait_window "^mirvo$" 150) || fail "version 4.0 was not offered"
  shot next_release_offered
  answer "^mirvo$" Escape
  frame=$(wait_window "Mirvo学习娱乐空间 版本3.9" 200) || fail "the client did not go on after the offer was declined"
  xdotool getwindowname "$frame" | grep -q "注意" && fail "a fresh signed version document was called stale"
  close_client "$frame"

  # --- Freeze: a signed version document from long ago (someone keeps
  # serving it so that no newer release is seen) is said in the caption.
  step "an old signed version document"
  printf '<mirvo>3.9</mirvo><show_message></show_message><published>2020-01-01T00:00:00Z</published>\r\n' \
    > "$work/site/mirvo.xml"
  "$sign" sign "$key" "$work/site/mirvo.xml" > /dev/null || fail "mirvo-sign could not sign the document"
  (cd "$prog" && exec ./mirvo) > "$work/client.log" 2>&1 &
  log_in
  frame=$(wait_window "Mirvo学习娱乐空间 版本3.9（注意：服务器的版本信息已经[0-9]*天没有更新）" 200) ||
    fail "the client did not say the version document is old"
  sleep 1
  shot old_version_document
  grep -q 'signed [0-9]* days ago' "$work/client.log" || fail "the client did not log the old version document"
  close_client "$frame"
fi
echo "update_e2e: ok"
