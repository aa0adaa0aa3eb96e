#!/usr/bin/env bash
# Checks what the test command can check of the house rules, without changing
# a file:
#  - every C++ file is formatted as .clang-format says;
#  - includes point down the layers: nothing under common/ or server/
#    includes from client/ or updater/; the client and the updater share
#    only common/ and gui/ (neither includes the other or server/); and the
#    windows under client/ never include from client/app/, which sits on top.
# Prints each offence and fails when there is one.
set -uo pipefail
cd "$(dirname "$0")/.."

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | grep -v '^third_party/')
else
  mapfile -t files < <(find . -path ./third_party -prune -o -path './build*' -prune -o \
                         \( -name '*.cpp' -o -name '*.h' \) -print | sed 's|^\./||')
fi

failed=0
unformatted=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  if ! clang-format --dry-run --Werror "$f" >/dev/null 2>&1; then unformatted+=("$f"); fi
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "style: not formatted (clang-format -i FILE applies the house style):"
  printf '  %s\n' "${unformatted[@]}"
  failed=1
fi

# file-prefix regex : include regex that files there must not use
rules=(
  '^(common|server)/:^#include "(client|updater)/'
  '^(updater|gui)/:^#include "(client|server)/'
  '^client/:^#include "(updater|server)/'
  '^(common|gui)/:^#include "(server|updater)/'
  '^client/(login|lessons|forms|controls|res)/:^#include "client/app/'
)
for rule in "${rules[@]}"; do
  where=${rule%%:*}
  what=${rule#*:}
  for f in "${files[@]}"; do
    [[ $f =~ $where ]] || continue
    [ -f "$f" ] || continue
    if hits=$(grep -nE "$what" "$f"); then
      while IFS= read -r h; do echo "layers: $f:$h"; done <<<"$hits"
      failed=1
    fi
  done
done

exit $failed
