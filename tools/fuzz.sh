#!/usr/bin/env bash
# Runs every libFuzzer target in build/host/fuzz for a bounded time each,
# seeded from its seeds folder, and prints one line per target and a summary.
set -uo pipefail
BUILD=${BUILD:-build}
SECONDS_EACH=${1:-60}
pass=0 fail=0
for f in "$BUILD"/host/fuzz/*; do
  [ -f "$f" ] && [ -x "$f" ] || continue
  name=$(basename "$f"); corpus="$BUILD/fuzz-corpus/$name"; mkdir -p "$corpus"
  args=("$corpus"); [ -d "${f}_seeds" ] && args+=("${f}_seeds")
  log="$BUILD/fuzz-$name.log"
  if "$f" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -rss_limit_mb=2048 "${args[@]}" >"$log" 2>&1; then
    echo "fuzz $name: $(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}') executions in ${SECONDS_EACH}s, nothing found"
    pass=$((pass + 1))
  else
    echo "fuzz $name: FAILED (see $log)"; grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -n 5
    fail=$((fail + 1))
  fi
done
echo "fuzz: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
