#!/usr/bin/env bash
# Fetches the pinned Ruffle web build into third_party/ruffle (not committed).
# The tarball's integrity is checked against the hash pinned below before it is
# unpacked, so a changed package never reaches the player.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
version=$(cat "$here/scripts/ruffle.version")
integrity=$(cat "$here/scripts/ruffle.integrity")
dest="$here/third_party/ruffle"

if [ -f "$dest/.version" ] && [ "$(cat "$dest/.version")" = "$version" ]; then
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "@ruffle-rs/ruffle@$version" >/dev/null)
tgz=$(ls "$work"/*.tgz)
algo=${integrity%%-*}
want=${integrity#*-}
got=$(openssl dgst "-$algo" -binary "$tgz" | base64 -w0)
if [ "$got" != "$want" ]; then
  echo "fetch-ruffle: integrity mismatch for @ruffle-rs/ruffle@$version" >&2
  exit 1
fi
rm -rf "$dest"
mkdir -p "$dest"
tar -xzf "$tgz" -C "$dest" --strip-components=1
echo "$version" > "$dest/.version"
echo "fetch-ruffle: @ruffle-rs/ruffle@$version in third_party/ruffle"
