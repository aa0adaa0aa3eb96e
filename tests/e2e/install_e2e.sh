#!/usr/bin/env bash
# End to end on a display: the per-user install into a fresh home folder.
#
# scripts/install.sh lays out a program folder whose name needs quoting
# (blanks, quotes, Chinese), with the menu entry, the theme icons and
# the metainfo in the data folder; desktop-file-validate and appstreamcli
# accept them. The client starts from its menu entry as a desktop starts it
# (gio launch reads Exec and Path), in its program folder, shows its login
# dialog and logs in against the reference service. A second install into
# the same folder changes nothing of the manifest. The uninstall removes
# every file the install wrote, also one the updater replaced since, and
# the folders it created, but keeps what the user and the updater added.
# An install into the default folder, never run, leaves the home folder as
# empty as it found it once it is uninstalled.
#
# Usage: install_e2e.sh SOURCE_DIR BUILD_DIR MIRVO_SERVER MDEMO PORT
# With MIRVO_SCREENSHOTS=DIR set, screenshots are left in DIR.
set -u
e2e_name=install_e2e
. "$(dirname "$0")/lib.sh"
src=$1 build=$2 server=$3 mdemo=$4 port=$5
work=$(mktemp -d /tmp/mirvo-install-e2e-XXXXXX)
server_pid=
folder=
program_folder=$folder
cleanup() {
  [ -n "$folder" ] && for pid in $(running mirvo); do kill "$pid" 2>/dev/null; done
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "install_e2e: $*" >&2
  shot failure
  [ -f "$work/server.log" ] && { echo "--- server log" >&2; tail -n 20 "$work/server.log" >&2; }
  exit 1
}

# A home folder of its own: nothing of the real user's is read or written.
export HOME="$work/home" MIRVO_BUILD_DIR="$build" MIRVO_BUILT=1 QT_QPA_PLATFORM=xcb
unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_DATA_DIRS
mkdir -p "$HOME"
install="$src/scripts/install.sh"
data="$HOME/.local/share"
id=org.mirvo.mirvo
entry="$data/applications/$id.desktop"
metainfo="$data/metainfo/$id.metainfo.xml"

# The files the install lists, one a line.
listed() { sed -n 's/^file //p' "$folder/install_manifest.txt"; }

for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.1
done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && fail "port $port is already taken; stop the service that holds it"

# --- Install into a folder whose name the menu entry must quote.
step "install"
# Folders the client could not run from, or desktops not start it from,
# are refused before anything is written.
for bad in "$HOME/100%" "$HOME/a\\b" "$HOME/Mirvo 😀"; do
  "$install" "$bad" > "$work/install.log" 2>&1 && fail "an install into $bad went ahead"
  [ -z "$(find "$HOME" -mindepth 1)" ] || fail "the refused install into $bad wrote something"
done
folder="$HOME/my apps/Mirvo \"学习\" \$HOME \`x\`"
program_folder=$folder
"$install" "$folder" > "$work/install.log" 2>&1 || fail "install failed: $(tail -n 5 "$work/install.log")"
for f in mirvo mupdate; do [ -x "$folder/$f" ] || fail "$f is not installed as a program"; done
for f in mirvo.xml help/help.htm ruffle/ruffle.js install_manifest.txt; do
  [ -f "$folder/$f" ] || fail "$f is not installed"
done
ls "$folder"/ruffle/*.wasm > /dev/null 2>&1 || fail "the player's WebAssembly is not installed"
grep -q '<mirvo>3.8</mirvo>' "$folder/mirvo.xml" || fail "mirvo.xml holds no version"
[ -w "$folder" ] && [ -O "$folder" ] && [ -w "$folder/mirvo" ] || fail "the program folder is not the user's to update"
for size in 16 24 32 48 64 128 256; do
  icon="$data/icons/hicolor/${size}x${size}/apps/$id.png"
  [ "$(identify -format '%wx%h' "$icon" 2>/dev/null)" = "${size}x${size}" ] || fail "no ${size}x${size} icon"
done

step "validators"
said=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $said"
[ -z "$said" ] || fail "desktop-file-validate complains: $said"
said=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli: $said"
grep -qx "Path=$folder" "$entry" || fail "the entry's Path is not the program folder: $(grep ^Path= "$entry")"
grep -qx "Icon=$id" "$entry" || fail "the entry names no theme icon"
listed | grep -qx "$entry" || fail "the manifest does not list the menu entry"

# --- The client from its menu entry, against the service.
step "the client from its menu entry"
"$server" init-demo "$work/site" "$work/db" --program "$mdemo" > "$work/init.log" 2>&1 ||
  fail "init-demo failed: $(cat "$work/init.log")"
"$server" serve --port "$port" --site "$work/site" --db "$work/db" > "$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q listening "$work/server.log" && break; sleep 0.1; done
grep -q listening "$work/server.log" || fail "the service did not start"
# A user the client knows, as a user's earlier login leaves it.
printf '<user name="demo" order="1" /><default_user_name>demo</default_user_name>\r\n<auto_login>false</auto_login>' \
  > "$folder/mirvo_user.xml"
(cd "$work" && exec gio launch "$entry") > "$work/launch.log" 2>&1 || fail "gio launch failed: $(cat "$work/launch.log")"
login=$(wait_window "欢迎您进入Mirvo学习娱乐空间" 300) || fail "no login dialog from the menu entry"
pid=$(running mirvo | head -1)
[ -n "$pid" ] || fail "the client that came up is not the installed one"
[ "$(readlink "/proc/$pid/cwd")" = "$folder" ] || fail "the client does not run in its program folder"
sleep 0.5
shot installed_login
xdotool windowactivate --sync "$login" 2>/dev/null
xdotool type --delay 30 "demo123"
xdotool key Return
frame=$(wait_window "Mirvo学习娱乐空间 版本3.8" 300) || fail "the installed client did not log in"
sleep 4
shot installed_client
grep -q 'action=login' "$work/server.log" || fail "the service heard no login"
xdotool windowactivate --sync "$frame" 2>/dev/null
xdotool key alt+F4
wait_gone mirvo 150 || fail "the installed client did not end"

# --- Installing again over it changes nothing of what is listed.
step "install again"
before=$(listed | sort)
"$install" "$folder" > "$work/install2.log" 2>&1 || fail "the second install failed"
[ "$(listed | sort)" = "$before" ] || fail "a second install lists other files"

# --- What the updater and the user did since.
mkdir -p "$folder/dl"
printf 'new updater' > "$folder/dl/mupdate"
printf 'program' > "$folder/mdemo.exe"
printf '<html>updated help</html>' > "$folder/help/help.htm"

step "uninstall"
"$install" --uninstall "$folder" > "$work/uninstall.log" 2>&1 || fail "uninstall failed: $(cat "$work/uninstall.log")"
while IFS= read -r f; do [ ! -e "$f" ] || fail "the uninstall left $f"; done <<<"$before"
[ ! -e "$folder/install_manifest.txt" ] || fail "the uninstall left its manifest"
[ ! -e "$folder/ruffle" ] && [ ! -e "$folder/help" ] || fail "the uninstall left the install's folders"
[ ! -e "$HOME/.local/share/applications" ] && [ ! -e "$HOME/.local/share/icons" ] &&
  [ ! -e "$HOME/.local/share/metainfo" ] || fail "the uninstall left folders in the data folder: $(find "$data")"
kept=$(cd "$folder" && find . -mindepth 1 | sort | tr '\n' ' ')
for f in ./mirvo_user.xml ./dl/mupdate ./mdemo.exe; do
  case " $kept " in *" $f "*) ;; *) fail "the uninstall took $f, which the install did not write" ;; esac
done

# --- The default folder, installed and removed without a run: nothing left.
step "install and uninstall in the default folder"
rm -rf "$HOME"
mkdir -p "$HOME"
folder="$data/mirvo"
program_folder=$folder
"$install" > "$work/install3.log" 2>&1 || fail "install into the default folder failed"
[ -x "$folder/mirvo" ] && [ -f "$entry" ] || fail "nothing installed into the default folder"
"$install" --uninstall > "$work/uninstall3.log" 2>&1 || fail "uninstall of the default folder failed"
left=$(find "$HOME" -mindepth 1)
[ -z "$left" ] || fail "the uninstall left: $left"
echo "install_e2e: ok"
