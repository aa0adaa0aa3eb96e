# Shared by the whole-program tests: screenshots, progress lines, waits
# for windows and processes, and the user's steps at the client's windows.
# A script sets `e2e_name` before sourcing this, `program_folder` before it
# asks which programs run from its folder, and defines `fail MESSAGE`.

# With MIRVO_SCREENSHOTS=DIR set, leaves a screenshot of the display in DIR.
shot() { [ -n "${MIRVO_SCREENSHOTS:-}" ] && mkdir -p "$MIRVO_SCREENSHOTS" && import -window root "$MIRVO_SCREENSHOTS/$1.png"; }

step() { echo "$e2e_name: $(date +%T) $*" >&2; }

# Waits up to $2 tenths of a second until the command $1 succeeds.
wait_for() {
  for _ in $(seq "$2"); do
    eval "$1" && return 0
    sleep 0.1
  done
  return 1
}

# Waits up to $2 tenths of a second for a visible window whose title matches
# $1, and prints its id.
wait_window() {
  local id
  for _ in $(seq "$2"); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# The processes that run the program $1 of the program folder, one id a
# line; also when an update has replaced the file under them.
running() {
  local p exe
  for p in /proc/[0-9]*; do
    exe=$(readlink "$p/exe" 2>/dev/null) || continue
    [ "${exe% (deleted)}" = "$program_folder/$1" ] && echo "${p#/proc/}"
  done
}

# Waits up to $2 tenths of a second until no program $1 runs from the folder.
wait_gone() { wait_for "[ -z \"\$(running $1)\" ]" "$2"; }

# Presses the key $2 on the window whose title matches $1.
answer() {
  local box
  box=$(wait_window "$1" 300) || fail "no window \"$1\""
  sleep 0.3
  xdotool windowactivate --sync "$box" 2>/dev/null
  xdotool key "$2"
}

# Logs the demo user in at the login dialog (its name is already chosen).
log_in() {
  local login
  login=$(wait_window "欢迎您进入Mirvo学习娱乐空间" 150) || fail "no login dialog"
  sleep 0.5
  xdotool windowactivate --sync "$login" 2>/dev/null
  xdotool type --delay 30 "demo123"
  xdotool key Return
}

# Closes the client by its main frame ($1) and waits until it has ended. The
# demo program the lesson window starts goes first, and the start-up has a
# moment to settle (it activates the lesson window once it is over), so the
# key reaches the frame.
close_client() {
  for pid in $(running mdemo.exe); do kill "$pid"; done
  sleep 1
  xdotool windowactivate --sync "$1" 2>/dev/null
  xdotool key alt+F4
  wait_gone mirvo 150 || fail "the client did not end"
}

# Pins the opener for web addresses as a desktop does, so that no browser
# installed on the machine (which the desktop's opener would find first) is
# ever started: the XDG config and data folders become $1/config and
# $1/data, where the default handler of http and https is a browser that
# notes each address in $1/browser.log and reads its page as a browser would.
# BROWSER names it too, for machines without the freedesktop opener. The
# test's display is a desktop of its own: none of the caller's is asked.
pin_browser() {
  local dir=$1
  mkdir -p "$dir/config" "$dir/data/applications"
  cat > "$dir/browser.sh" <<EOB
#!/bin/sh
printf '%s\n' "\$1" >> "$dir/browser.log"
curl -s --max-time 5 "\$1" > "$dir/page.html"
EOB
  chmod +x "$dir/browser.sh"
  cat > "$dir/data/applications/mirvo-test-browser.desktop" <<EOD
[Desktop Entry]
Type=Application
Name=Recording browser
Exec=$dir/browser.sh %u
MimeType=x-scheme-handler/http;x-scheme-handler/https;text/html;
NoDisplay=true
EOD
  printf '[Default Applications]\n%s\n%s\n' x-scheme-handler/http=mirvo-test-browser.desktop \
    x-scheme-handler/https=mirvo-test-browser.desktop > "$dir/config/mimeapps.list"
  export XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data" BROWSER="$dir/browser.sh"
  unset XDG_CURRENT_DESKTOP DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID KDE_FULL_SESSION
}
