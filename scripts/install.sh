#!/usr/bin/env bash
# Installs Mirvo for the current user, or takes an installation away again.
#
#   scripts/install.sh [FOLDER]               install into FOLDER
#   scripts/install.sh --uninstall [FOLDER]   remove what the install wrote
#
# FOLDER is the program folder, by default ~/.local/share/mirvo (below
# $XDG_DATA_HOME when that is set). It belongs to the user: the updater
# replaces the client's files there. The install also puts a menu entry,
# the icon and the metainfo into the user's data folder, and lists all it
# wrote in FOLDER/install_manifest.txt. The uninstall removes exactly those
# files (also where the updater replaced them) and the folders the install
# created once they are empty; what the user or the updater added beside
# them (known users, saved passwords, installed programs, downloads) stays.
#
# The install sets up the machine and builds first, as scripts/demo.sh does
# (build folder: $MIRVO_BUILD_DIR, default build/); with MIRVO_BUILT=1 it
# installs the build folder as it stands.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRVO_BUILD_DIR:-$here/build}
app_id=org.mirvo.mirvo

usage() {
  echo "usage: $0 [FOLDER] | --uninstall [FOLDER]" >&2
  exit 2
}

data_home() {
  case "${XDG_DATA_HOME:-}" in
    /*) echo "$XDG_DATA_HOME" ;;
    *) echo "$HOME/.local/share" ;;
  esac
}

# The folder as an absolute path, without "." or ".." steps.
absolute() { realpath -m -- "$1"; }

install_into() {
  local folder=$1
  if [ -z "${MIRVO_BUILT:-}" ]; then
    "$here/scripts/setup.sh"
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMIRVO_GUI=ON -DMIRVO_SERVER=ON -DMIRVO_BENCH=ON -DMIRVO_SANITIZE=OFF >/dev/null
    ninja -C "$build" -j2
  fi
  cmake --install "$build" --prefix "$folder"
  check_desktop_needs
  echo "install: Mirvo is in $folder; its menu entry is $(data_home)/applications/$app_id.desktop"
  echo "install: to remove it: $0 --uninstall $(printf '%q' "$folder")"
}

# What the client needs of the machine beyond its own files (the set-up
# installs all of it; an install of a ready build may meet a machine
# without): a Chinese font, or every text is boxes; Qt's Wayland plugin for
# those who ask for Wayland; Qt's own texts in Chinese.
check_desktop_needs() {
  if command -v fc-list >/dev/null 2>&1 && [ -z "$(fc-list :lang=zh-cn family 2>/dev/null)" ]; then
    echo "install: no Chinese font: install fonts-wqy-microhei (or fonts-noto-cjk), or every text shows as boxes" >&2
  fi
  command -v dpkg-query >/dev/null 2>&1 || return 0
  local p
  for p in qt6-wayland qt6-translations-l10n; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
      echo "install: $p is not installed (scripts/setup.sh installs it)" >&2
  done
  return 0
}

# Only what an install writes may be removed, whatever the manifest says:
# files below the program folder, and the menu entry, metainfo and icons of
# this program in a data folder. Paths with "." or ".." steps are none of them.
removable() {
  local path=$1 folder=$2
  case "/$path/" in */./* | */../*) return 1 ;; esac
  case "$path" in
    "$folder"/*) return 0 ;;
    */applications/"$app_id".desktop | */metainfo/"$app_id".metainfo.xml) return 0 ;;
    */icons/hicolor/*/apps/"$app_id".png) return 0 ;;
  esac
  return 1
}

uninstall_from() {
  local folder=$1 manifest=$1/install_manifest.txt kind path
  if [ ! -f "$manifest" ]; then
    echo "uninstall: no installation in $folder (it has no install_manifest.txt)" >&2
    exit 1
  fi
  local dirs=()
  while IFS= read -r line; do
    kind=${line%% *}
    path=${line#* }
    case "$kind" in
      file)
        if removable "$path" "$folder"; then
          rm -f -- "$path"
        else
          echo "uninstall: left alone, not something an install writes: $path" >&2
        fi
        ;;
      dir) dirs+=("$path") ;;
    esac
  done < "$manifest"
  rm -f -- "$manifest"
  # Deepest first; a folder that still holds something stays.
  if [ ${#dirs[@]} -gt 0 ]; then
    printf '%s\n' "${dirs[@]}" | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2- |
      while IFS= read -r dir; do
        [ -d "$dir" ] && rmdir -- "$dir" 2>/dev/null || true
      done
  fi
  if [ -d "$folder" ]; then
    echo "uninstall: Mirvo is removed; $folder keeps what was added there since:"
    ls -A "$folder" | sed 's/^/  /'
  else
    echo "uninstall: Mirvo is removed from $folder"
  fi
}

mode=install
if [ "${1:-}" = "--uninstall" ]; then
  mode=uninstall
  shift
fi
case "${1:-}" in -*) usage ;; esac
[ $# -le 1 ] || usage
folder=$(absolute "${1:-$(data_home)/mirvo}")
case "$folder" in *$'\n'*) echo "install: a folder name with a line break cannot be listed" >&2; exit 2 ;; esac
if [ "$mode" = install ]; then
  # A menu entry writes "%" as "%%", and GLib's desktops look for the
  # program before they read it back: they would never start the client.
  if [[ $folder == *%* ]]; then
    echo "install: desktops cannot start a program from a folder whose name holds \"%\": $folder" >&2
    exit 2
  fi
  # The client names its files in GBK with "\" between folders: it could
  # not use a folder whose name has a "\" or a character GBK lacks.
  if [[ $folder == *\\* ]] || ! printf '%s' "$folder" | iconv -f UTF-8 -t GBK >/dev/null 2>&1; then
    echo "install: the client cannot run from a folder whose name holds a backslash or characters outside GBK: $folder" >&2
    exit 2
  fi
fi

if [ "$mode" = install ]; then
  install_into "$folder"
else
  uninstall_from "$folder"
fi
