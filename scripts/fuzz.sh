#!/usr/bin/env bash
# Builds the libFuzzer targets under AddressSanitizer + UndefinedBehaviorSanitizer
# (the fuzz preset, clang, into build/fuzz) and runs each for a bounded time,
# starting from a copy of its committed corpus, so a run never changes the
# checkout.  Any crash, sanitizer report or broken property fails the script;
# the input that caused it is kept in build/fuzz/artifacts/.
#
# Environment:
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_JOBS      targets run at the same time (default 1)
#   FUZZ_TARGETS   space-separated targets to run (default: all of them)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
jobs="${FUZZ_JOBS:-1}"
targets="${FUZZ_TARGETS:-differential_fuzzer set_differential_fuzzer call_sequence_fuzzer guard_page_fuzzer cli_parsing_fuzzer}"
build=build/fuzz
artifacts="$build/artifacts"

cmake --preset fuzz -DHUSHMASK_WERROR=ON >/dev/null
cmake --build --preset fuzz

mkdir -p "$artifacts"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Runs one target; its log goes to $work/<target>.log, its verdict to
# $work/<target>.status.
run_target() {
  local target="$1" binary="$build/fuzz/$1" corpus="$work/$1"
  mkdir -p "$corpus"
  cp -r "fuzz/corpus/$target/." "$corpus/"
  # -timeout: one input may take 10 s at most; -rss_limit_mb: a leak that
  # grows with the run fails it instead of exhausting the machine.
  if "$binary" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/$target-" >"$work/$target.log" 2>&1; then
    echo ok >"$work/$target.status"
  else
    echo failed >"$work/$target.status"
  fi
}

ran=()
for target in $targets; do
  if [ ! -x "$build/fuzz/$target" ]; then
    echo "== $target: not built, skipped"
    continue
  fi
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "== $target: ${seconds}s from $(find "fuzz/corpus/$target" -type f | wc -l) seed inputs"
  run_target "$target" &
  ran+=("$target")
done
wait

status=0
for target in "${ran[@]}"; do
  if [ "$(cat "$work/$target.status" 2>/dev/null)" = ok ]; then
    echo "== $target: ok, $(grep -E "stat::number_of_executed_units" "$work/$target.log" | awk '{print $2}') inputs run"
  else
    tail -n 60 "$work/$target.log"
    echo "== $target: FAILED (the input is in $artifacts)"
    status=1
  fi
done
exit "$status"
