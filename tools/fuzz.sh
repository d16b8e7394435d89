#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Runs the libFuzzer targets of build/host/fuzz, JOBS at a time, and prints one
# line per target and a summary line "fuzz: N passed, M failed".
#
#   fuzz.sh --quick SECONDS   (make test) each target replays its committed
#                             corpus, seeds and crash regressions, then fuzzes
#                             fresh for SECONDS; new inputs stay in build/.
#   fuzz.sh SECONDS           (make fuzz) each target fuzzes for SECONDS, and
#                             what adds coverage is merged into its committed
#                             corpus; a crash input is kept as a regression.
#
# Where a target's corpus and regressions live is written by CMake beside the
# target (NAME.dirs: "corpus DIR" and "regressions DIR").
set -uo pipefail
BUILD=${BUILD:-build}
QUICK=0
if [ "${1:-}" = "--quick" ]; then QUICK=1; shift; fi
SECONDS_EACH=${1:-60}
JOBS=${JOBS:-$(nproc)}
out="$BUILD/fuzz-results"
rm -rf "$out"; mkdir -p "$out" "$BUILD/fuzz-artifacts"

one() {
  local f=$1 name corpus regressions scratch log args
  name=$(basename "$f")
  corpus=$(sed -n 's/^corpus //p' "$f.dirs" 2>/dev/null)
  regressions=$(sed -n 's/^regressions //p' "$f.dirs" 2>/dev/null)
  scratch="$BUILD/fuzz-corpus/$name"; mkdir -p "$scratch"
  log="$BUILD/fuzz-$name.log"
  # The first folder takes what the run finds; the others are only read.
  args=("$scratch")
  for d in "$corpus" "${f}_seeds" "$regressions"; do [ -n "$d" ] && [ -d "$d" ] && args+=("$d"); done
  if "$f" -max_total_time="$SECONDS_EACH" -print_final_stats=1 -rss_limit_mb=2048 \
      -artifact_prefix="$BUILD/fuzz-artifacts/$name-" "${args[@]}" >"$log" 2>&1; then
    local replayed execs
    replayed=$(grep -oE 'INFO: +seed corpus: files: [0-9]+' "$log" | grep -oE '[0-9]+$' | head -n 1)
    execs=$(grep -E 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    if [ $QUICK -eq 0 ] && [ -n "$corpus" ]; then
      # Only inputs that add coverage join the committed corpus.
      mkdir -p "$corpus"
      "$f" -merge=1 "$corpus" "$scratch" >>"$log" 2>&1
    fi
    echo "PASS fuzz $name: ${replayed:-0} saved inputs replayed, ${execs:-?} executions in ${SECONDS_EACH}s, nothing found"
  else
    echo "FAIL fuzz $name (see $log)"
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -n 5
    if [ $QUICK -eq 0 ] && [ -n "$regressions" ]; then
      # Kept so that every later run replays it, once the fault is mended.
      mkdir -p "$regressions"
      for a in "$BUILD/fuzz-artifacts/$name-"*; do [ -f "$a" ] && cp "$a" "$regressions/" && echo "  kept $a in $regressions"; done
    fi
  fi >"$out/$name"
}

targets=()
for f in "$BUILD"/host/fuzz/*; do [ -f "$f" ] && [ -x "$f" ] && targets+=("$f"); done
running=0
for f in "${targets[@]}"; do
  one "$f" &
  running=$((running + 1))
  if [ $running -ge "$JOBS" ]; then wait -n; running=$((running - 1)); fi
done
wait
pass=0 fail=0
for f in "${targets[@]}"; do
  r="$out/$(basename "$f")"
  sed 's/^PASS //' "$r"
  if head -n 1 "$r" | grep -q '^PASS'; then pass=$((pass + 1)); else fail=$((fail + 1)); fi
done
echo "fuzz: $pass passed, $fail failed"
[ "$fail" -eq 0 ] && [ "$pass" -gt 0 ]
