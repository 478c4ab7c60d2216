#!/usr/bin/env bash
# Runs every fuzz target of fuzz/:  scripts/fuzz.sh [SECONDS]  (60 by default)
#   1. builds the targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer,
#      libFuzzer) into build-fuzz, or $TARSEL_FUZZ_BUILD;
#   2. makes the seeds with the ffmpeg tool (fuzz/make_seeds.sh);
#   3. replays every committed regression input (fuzz/regressions/<target>/*);
#   4. fuzzes each target SECONDS long from its seeds and its corpus (kept in
#      the build folder between runs), two targets at a time.
# A crash, leak, sanitizer report, hang (over $TARSEL_FUZZ_TIMEOUT s, default
# 60) or out-of-memory input fails the script; the input is kept under
# build-fuzz/findings/<target>/ and the report in build-fuzz/logs/<target>.log.
# TARSEL_FUZZ_TARGETS="decoder_fuzzer ..." runs some targets only;
# TARSEL_FUZZ_JOBS sets how many run at once.
set -euo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARSEL_FUZZ_BUILD:-$root/build-fuzz}
jobs=${TARSEL_FUZZ_JOBS:-2}
timeout=${TARSEL_FUZZ_TIMEOUT:-60}

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARSEL_FUZZ=ON -DTARSEL_TESTS=OFF -DTARSEL_BENCH=OFF -DTARSEL_TOOLS=OFF \
  -DTARSEL_ONLY="reader;audio;convert;mp4" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
bash "$root/fuzz/make_seeds.sh" "$build/seeds" >/dev/null

targets=${TARSEL_FUZZ_TARGETS:-$(cd "$build/fuzz" && ls -- *_fuzzer)}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tarsel_fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/logs"
# FFmpeg's own messages about damaged input would drown the reports.
export TARSEL_LOG=quiet
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# run TARGET: the regression inputs, then SECONDS of fuzzing.
run() {
  local target=$1 log="$build/logs/$1.log" dict=()
  [[ $target == decoder_fuzzer || $target == mp4_writer_fuzzer ]] && dict=(-dict="$root/fuzz/h264.dict")
  local regressions=("$root/fuzz/regressions/$target"/*)
  mkdir -p "$build/corpus/$target" "$build/findings/$target" "$scratch/$target"
  : >"$log"
  if [[ -e "${regressions[0]}" ]] &&
     ! TMPDIR="$scratch/$target" "$build/fuzz/$target" -timeout="$timeout" \
         "${regressions[@]}" >>"$log" 2>&1; then
    echo "$target: a regression input fails again (see $log)"
    return 1
  fi
  if ! TMPDIR="$scratch/$target" "$build/fuzz/$target" -max_total_time="$seconds" \
       -timeout="$timeout" -rss_limit_mb=2560 -max_len=65536 -print_final_stats=1 \
       -artifact_prefix="$build/findings/$target/" "${dict[@]}" \
       "$build/corpus/$target" "$build/seeds/$target" >>"$log" 2>&1; then
    echo "$target: FINDING after fuzzing (see $log and $build/findings/$target/)"
    return 1
  fi
  local replayed=0
  [[ -e "${regressions[0]}" ]] && replayed=${#regressions[@]}
  echo "$target: $replayed regression inputs pass;" \
    "$(grep -o 'number_of_executed_units: [0-9]*' "$log" | grep -o '[0-9]*$') runs in $seconds s, clean"
}

failed=0
running=0
for target in $targets; do
  if ((running >= jobs)); then
    wait -n || failed=1
    running=$((running - 1))
  fi
  run "$target" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
