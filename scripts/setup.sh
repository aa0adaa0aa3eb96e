#!/usr/bin/env bash
# Installs everything Mirvo needs to build, test and run its demo on Debian 12.
# Idempotent: packages already present are left alone, Ruffle is fetched once.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev qt6-tools-dev-tools
  qt6-qpa-plugins qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
  # Wayland sessions: the platform plugin for a user who asks for Wayland,
  # and Qt's own texts (OK, Yes, No...) in Chinese.
  qt6-wayland qt6-translations-l10n
  libgl-dev libegl-dev libxkbcommon-dev libxcb1-dev
  libcurl4-openssl-dev nettle-dev zlib1g-dev liblzma-dev
  libcpp-httplib-dev libmicrohttpd-dev libsqlite3-dev sqlite3
  # The service past one machine: PostgreSQL through libpq, nginx in front.
  # The tests start servers of their own (scripts/test-postgres.sh,
  # scripts/test-nginx.sh), never the system's services.
  libpq-dev postgresql nginx
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils xdotool xclip imagemagick libgl1-mesa-dri mesa-utils icewm
  # A real Wayland compositor with Xwayland for the whole-program test, and
  # the desktop's opener, which the tests pin to a browser of their own.
  weston xwayland xdg-utils
  # The install's checks: its menu entry and metainfo validated, the client
  # started from the entry as a desktop starts it (gio launch).
  desktop-file-utils appstream libglib2.0-bin
  fonts-wqy-microhei fonts-noto-cjk
  clang libclang-rt-14-dev llvm clang-format
  # The fixed font the controls' widget tests measure with.
  fonts-dejavu-core
  openssl curl locales
  # Tests and benchmarks that open many loopback connections run in a network
  # namespace of their own (scripts/with-netns.sh brings its loopback up).
  iproute2
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# npm fetches the player's web build; machines that already carry a Node.js
# of their own keep it.
if ! command -v npm >/dev/null 2>&1; then missing+=(nodejs npm); fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A locale whose decimal point is ",": the tests check that numbers in the
# programs' documents are read the same under it.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  "${sudo_cmd[@]}" localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi

"$here/scripts/fetch-ruffle.sh"
