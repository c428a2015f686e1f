#!/usr/bin/env bash
# Builds the fuzz targets, makes the seed corpora, replays the kept
# reproducers and runs each target for a bounded time.
# Usage: run_fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# Exits non-zero when a target crashes; the crashing inputs are left in
# $MORAVINE_FUZZ_BUILD/fuzz-artifacts/TARGET/.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MORAVINE_FUZZ_BUILD:-$root/build-fuzz}
targets=(container_fuzz roundtrip_fuzz)

# The build's own output is shown only when it fails.
if ! out=$(CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DMORAVINE_FUZZ=ON -DMORAVINE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=Sanitize 2>&1 && ninja -C "$build" "${targets[@]}" moravine 2>&1); then
  printf '%s\n' "$out" | tail -n 40 >&2
  echo "run_fuzz: the fuzz build failed" >&2
  exit 1
fi
MORAVINE_FUZZ_BUILD=$build "$root/fuzz/make_seeds.sh" "$build/fuzz-seeds" "$build/cli/moravine"

# Stacks in every sanitizer report, so that the logs say where it failed.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
status=0
for target in "${targets[@]}"; do
  binary=$build/fuzz/$target
  corpus=$build/fuzz-corpus/$target
  artifacts=$build/fuzz-artifacts/$target
  log=$build/fuzz-logs/$target.log
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  seeds=$build/fuzz-seeds/${target%_fuzz}
  flags=(-rss_limit_mb=2048 -timeout=10 -artifact_prefix="$artifacts/")

  # Reproducers kept under fuzz/regressions/TARGET/ must no longer crash.
  regressions=$root/fuzz/regressions/$target
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    if ! "$binary" "${flags[@]}" "$regressions"/* >"$log.regressions" 2>&1; then
      echo "run_fuzz: $target: a kept reproducer still fails; see $log.regressions" >&2
      tail -n 30 "$log.regressions" >&2
      status=1
    fi
  fi

  echo "run_fuzz: $target for ${seconds}s"
  if "$binary" "${flags[@]}" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "$seeds" >"$log" 2>&1; then
    grep -E '^(stat::number_of_executed_units|Done )' "$log" | sed "s/^/run_fuzz: $target: /" || true
  else
    echo "run_fuzz: $target FOUND A CRASH; see $log and $artifacts/" >&2
    tail -n 40 "$log" >&2
    status=1
  fi
done
exit $status
