#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Everything `make test` runs, arranged for a two-core machine: the host build
# beside the firmware images, and EDK II's build of our package in the
# background from the start; then the firmware suite in OVMF (boots side by
# side) beside the host tests, the image checks and the fuzz replays, which
# run at a lower priority so the boots' timed checks keep their pace; then the
# dispatch check. Prints progress as it goes, the time of each stage, and one
# summary line; exits non-zero when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
PY=/usr/bin/python3
MAKE="make --no-print-directory BUILD=$BUILD"
JOBS=$(nproc)
FUZZ_SECONDS=${FUZZ_SECONDS:-4}
LOGS="$BUILD/test-logs"
mkdir -p "$LOGS"
PASS=0 FAIL=0
STAGES=()
BEGAN=$(date +%s.%N)

since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }'; }
stage_done() { STAGES+=("$1 $(since "$2")s"); }
# Adds a suite's "NAME: N passed, M failed" line from its output to the totals.
count() {
  local line
  line=$(grep -E "^$1: [0-9]+ passed, [0-9]+ failed" "$2" | tail -n 1)
  if [ -z "$line" ]; then
    echo "$1: did not finish (see $2)"; tail -n 20 "$2"; FAIL=$((FAIL + 1)); return
  fi
  PASS=$((PASS + $(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")))
  FAIL=$((FAIL + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
}

# ---- Build: host tests (with a line per linked program) beside the images.
t=$(date +%s.%N)
rm -f "$LOGS/images.rc"
( $MAKE images testbed-images package pictures-fv >"$LOGS/images.log" 2>&1; echo $? >"$LOGS/images.rc" ) &
images_job=$!

# ---- EDK II in the background from the start: its source and BaseTools
# (tools/edk2.sh, reused once built) while we build, then, once the package
# is written, the package built by EDK II and its files compared with ours.
t_edk2=$(date +%s.%N)
( nice bash tools/edk2.sh >"$LOGS/edk2-tree.log" 2>&1
  while [ ! -f "$LOGS/images.rc" ]; do sleep 1; done
  if [ "$(cat "$LOGS/images.rc")" -eq 0 ]; then
    nice $PY -m tools.firmware edk2-check --build "$BUILD" >"$LOGS/edk2.log" 2>&1
  else
    echo "edk2: not run, the images did not build" >"$LOGS/edk2.log"
  fi
  since "$t_edk2" >"$LOGS/edk2.time" ) &
edk2_job=$!
echo "host build: configuring"
cmake -S . -B "$BUILD/host" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang >"$BUILD/host-build.log" 2>&1
# A line per linked program, and one at each further tenth of the steps.
cmake --build "$BUILD/host" 2>&1 | tee -a "$BUILD/host-build.log" | awk '
  /^\[[0-9]+\/[0-9]+\] / {
    split(substr($1, 2), f, /[\/\]]/); tenth = int(10 * f[1] / f[2])
    if ($2 == "Linking") { n = $NF; sub(/.*\//, "", n); printf "host build %s linked %s\n", $1, n; fflush(); shown_tenth = tenth }
    else if (tenth > shown_tenth) { printf "host build %s %d%%\n", $1, 10 * tenth; fflush(); shown_tenth = tenth }
  }
  /error:|FAILED:/ { if (errors++ < 40) { print; fflush() } }'
build_rc=${PIPESTATUS[0]}
wait "$images_job"
images_rc=$(cat "$LOGS/images.rc" 2>/dev/null || echo 1)
[ "$images_rc" -eq 0 ] || { echo "images: the build failed"; grep -E 'error|Error' "$LOGS/images.log" | head -n 20; }
stage_done "build" "$t"

# ---- Firmware suite in the background: its boots take the cores first.
t_fw=$(date +%s.%N)
if [ "$images_rc" -eq 0 ]; then
  ( $PY test/bed/run.py --build "$BUILD" --no-make >"$LOGS/firmware.log" 2>&1
    since "$t_fw" >"$LOGS/firmware.time" ) &
  firmware_job=$!
else
  firmware_job=""
fi

# ---- Host tests, image checks and fuzz replays, beside it at low priority.
t=$(date +%s.%N)
if [ "$build_rc" -eq 0 ]; then
  (cd "$BUILD/host" && nice ctest -j"$JOBS" --output-on-failure >../host-test.log 2>&1)
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$BUILD/host-test.log" | tail -n 1)
fi
if [ -n "${line:-}" ]; then
  echo "host tests: $line"
  grep -E '^\s*[0-9]+ - .*\(Failed|\(Timeout|\(Subprocess' "$BUILD/host-test.log" | head -n 20
  f=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  n=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  PASS=$((PASS + n - f)); FAIL=$((FAIL + f))
else
  echo "host tests: build or run failed (see $BUILD/host-build.log)"; grep -E 'error:|FAILED' "$BUILD/host-build.log" | head -n 30
  FAIL=$((FAIL + 1))
fi
stage_done "host-tests" "$t"

t=$(date +%s.%N)
$MAKE image-check >"$LOGS/image-check.log" 2>&1
grep -vE '^ok |^/usr/bin/python3|^  (CXX|LINK) |^lld-link: warning' "$LOGS/image-check.log"
count "image check" "$LOGS/image-check.log"
stage_done "image-check" "$t"

# Every firmware volume and file we write, read back by UEFIExtract (uefitool-cli);
# make package (built with the images) also refuses an image that lacks a GUID its manifest lists.
t=$(date +%s.%N)
if [ "$images_rc" -eq 0 ]; then
  /usr/bin/python3 -m tools.firmware uefiextract-check "$BUILD"/fv/*.fv "$BUILD"/ffs/*.ffs "$BUILD"/fv/pictures/*.ffs \
    "$BUILD"/package/*/*.ffs >"$LOGS/uefiextract.log" 2>&1
  grep -v '^ok ' "$LOGS/uefiextract.log"
  count "uefiextract" "$LOGS/uefiextract.log"
else
  echo "package: failed"; FAIL=$((FAIL + 1))
fi
# The release bundle, built twice from nothing: identical bytes, SHA256SUMS that check.
BUILD=$BUILD nice bash tools/release_check.sh >"$LOGS/release.log" 2>&1
grep -v ' passed, ' "$LOGS/release.log"
count "release" "$LOGS/release.log"
stage_done "package" "$t"

t=$(date +%s.%N)
BUILD=$BUILD nice bash tools/fuzz.sh --quick "$FUZZ_SECONDS" >"$LOGS/fuzz.log" 2>&1
cat "$LOGS/fuzz.log"
count "fuzz" "$LOGS/fuzz.log"
stage_done "fuzz" "$t"

# ---- The drivers packed as firmware files, dispatched by OVMF's own DXE dispatcher.
t=$(date +%s.%N)
if [ "$images_rc" -eq 0 ]; then
  $PY test/bed/run.py --build "$BUILD" --no-make --group dispatch >"$LOGS/dispatch.log" 2>&1
  tail -n 15 "$LOGS/dispatch.log"
  count "dispatch" "$LOGS/dispatch.log"
else
  echo "dispatch: not run, the images did not build"; FAIL=$((FAIL + 1))
fi
stage_done "dispatch" "$t"

echo "edk2: waiting for EDK II's build"
wait "$edk2_job"
grep -v '^ok ' "$LOGS/edk2.log"
count "edk2" "$LOGS/edk2.log"
STAGES+=("edk2 $(cat "$LOGS/edk2.time" 2>/dev/null || echo '?')s")

if [ -n "$firmware_job" ]; then
  echo "firmware: waiting for the boots"
  wait "$firmware_job"
  grep -v '^PASS ' "$LOGS/firmware.log"
  count "firmware" "$LOGS/firmware.log"
  STAGES+=("firmware $(cat "$LOGS/firmware.time" 2>/dev/null || echo '?')s")
else
  echo "firmware: not run, the images did not build"; FAIL=$((FAIL + 1))
fi

# ---- The board image: the insert tool's output read by UEFIExtract, then the
# image booted (our drivers dispatched from flash, the SMM driver in SMRAM).
# Its timed boots run alone, after the firmware suite.
t=$(date +%s.%N)
if [ "$images_rc" -eq 0 ]; then
  $MAKE board-check >"$LOGS/board-check.log" 2>&1
  grep -E '^(FAIL|extract check|fvinsert)' "$LOGS/board-check.log"
  count "extract check" "$LOGS/board-check.log"
  if grep -qE '^extract check: [0-9]+ passed, 0 failed' "$LOGS/board-check.log"; then
    $PY test/bed/run.py --build "$BUILD" --board --no-make >"$LOGS/board.log" 2>&1
    grep -v '^PASS ' "$LOGS/board.log"
    count "board" "$LOGS/board.log"
  fi
else
  echo "board: not run, the images did not build"; FAIL=$((FAIL + 1))
fi
stage_done "board" "$t"

echo "stages: ${STAGES[*]}; total $(since "$BEGAN")s (edk2 from the start; firmware beside host-tests, image-check, package, fuzz, dispatch; board after)"
echo "test: $PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ] && [ "$PASS" -gt 0 ]
