#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
# Usage: fuzz.sh [SECONDS_PER_TARGET]   (default 20)
# Parsers of what the network sends are fuzzed: the document query, the digit
# decoder, the movie reader and the controls' markup and styles. A crash or
# sanitizer report fails the run.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRVO_FUZZ_BUILD_DIR:-$here/build-fuzz}
seconds=${1:-20}
targets=(xmltext_fuzz digit_decode_fuzz swf_fuzz markup_fuzz)

CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMIRVO_FUZZ=ON -DMIRVO_GUI=OFF -DMIRVO_SERVER=OFF -DMIRVO_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
ninja -C "$build" -j2 "${targets[@]}" >/dev/null

failed=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  if "$build/$(cd "$build" && find . -name "$t" -type f -perm -u+x | head -n1)" -max_total_time="$seconds" \
       -rss_limit_mb=2048 -print_final_stats=1 "$corpus" >"$build/$t.log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/$t.log" | grep -o '[0-9]*$' || echo "?")
    echo "fuzz: $t ran $runs inputs in ${seconds}s without a fault"
  else
    echo "fuzz: $t FAILED, see $build/$t.log"
    tail -n 30 "$build/$t.log"
    failed=1
  fi
done
exit $failed
