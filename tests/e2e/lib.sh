# Shared by the whole-program tests: screenshots, progress lines and waits
# for windows and processes. A script sets `e2e_name` before sourcing this,
# and `program_folder` before it asks which programs run from its folder.

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
