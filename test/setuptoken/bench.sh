#!/usr/bin/env bash
# Instructions per handled settings request, from callgrind: the handler and
# everything it calls, minus the token service's own (empty) entries.
# Usage: test/setuptoken/bench.sh [build-dir]   (make bench can call it)
set -euo pipefail
cd "$(dirname "$0")/../.."
OUT=${1:-${BUILD:-build}}/bench/setuptoken
AIM=6000
ROUNDS=100
mkdir -p "$OUT"
# The image's optimisation level, without sanitizers, so the count is close
# to what the firmware executes.
clang++ -std=c++20 -Os -DEFI_HOST_TEST=1 -Iinclude -I. -fno-exceptions -fno-rtti \
  setuptoken/startup.cpp setuptoken/driver_entry.cpp setuptoken/smi_handler.cpp \
  setuptoken/translate.cpp setuptoken/token_table.cpp test/setuptoken/bench_request.cpp \
  -o "$OUT/bench_request"
status=0
for kind in quiet busy; do
  out="$OUT/callgrind.$kind"
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='SettingsRequestHandler*' \
    "$OUT/bench_request" "$kind" "$ROUNDS" >/dev/null 2>"$OUT/valgrind.$kind.log"
  # Self costs per function; everything collected lies inside the handler.
  read -r total stubs < <(callgrind_annotate --inclusive=no --threshold=100 "$out" |
    awk '/^ *[0-9,]+ .*(PROGRAM TOTALS)/ { gsub(",", "", $1); t = $1 }
         /^ *[0-9,]+ .*TokenStub/ { gsub(",", "", $1); s += $1 }
         END { print t, s + 0 }')
  per=$(( (total - stubs) / ROUNDS ))
  echo "setuptoken $kind request: $per instructions per handled request (token service excluded; aim < $AIM)"
  [ "$per" -lt "$AIM" ] || status=1
done
exit $status
