#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test:
#  0. the house style and the direction of includes (scripts/check-style.sh),
#  1. the parsers of network input under libFuzzer for a short while,
#  2. the Qt-free code and the reference service under AddressSanitizer and
#     UndefinedBehaviorSanitizer,
#  3. the whole build with every test, the windows, the player and the
#     end-to-end runs included (those bring their own virtual display).
# Extra arguments go to the last ctest run (e.g. -L gui, -R xmltext).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRVO_BUILD_DIR:-$here/build}

"$here/scripts/setup.sh"

echo "== style and layers"
"$here/scripts/check-style.sh"

if [ -z "${MIRVO_QUICK:-}" ]; then
  echo "== fuzzing the parsers"
  "$here/scripts/fuzz.sh" "${MIRVO_FUZZ_SECONDS:-15}"

  echo "== Qt-free code under sanitizers"
  cmake -S "$here" -B "$here/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMIRVO_SANITIZE=ON \
    -DMIRVO_GUI=OFF -DMIRVO_SERVER=ON -DMIRVO_BENCH=OFF >/dev/null
  ninja -C "$here/build-asan" -j2 >/dev/null
  if ! (cd "$here/build-asan" && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
          ctest --output-on-failure -j2 >ctest.log 2>&1); then
    cat "$here/build-asan/ctest.log"
    echo "sanitizer run failed"
    exit 1
  fi
  grep -E 'tests passed|tests failed' "$here/build-asan/ctest.log" | sed 's/^/sanitizers: /'

fi

echo "== everything"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRVO_GUI=ON -DMIRVO_SERVER=ON -DMIRVO_BENCH=ON -DMIRVO_SANITIZE=OFF >/dev/null
ninja -C "$build" -j2
cd "$build"
ctest --output-on-failure -j2 "$@"
