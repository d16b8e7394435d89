#!/usr/bin/env bash
# Everything `make test` runs, in order: host unit tests, image checks, a
# bounded fuzzing pass, then the firmware suite in OVMF. Ends with one
# summary line and a non-zero exit when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
MAKE="make --no-print-directory BUILD=$BUILD"
PASS=0 FAIL=0
add() { PASS=$((PASS + $1)); FAIL=$((FAIL + $2)); }

# Host tests: every test case is its own CTest test.
mkdir -p "$BUILD"
$MAKE host-test >"$BUILD/host-build.log" 2>&1
grep -E 'error|FAILED|Failed|\*\*\*' "$BUILD/host-build.log" | head -n 60
line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$BUILD/host-test.log" 2>/dev/null | tail -n 1)
if [ -n "$line" ]; then
  echo "host tests: $line"
  f=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  add $((t - f)) "$f"
else
  echo "host tests: build or run failed (see $BUILD/host-build.log)"; tail -n 30 "$BUILD/host-build.log"; add 0 1
fi

# Image checks with an independent PE reader.
out=$($MAKE image-check 2>&1); echo "$out" | grep -v '^clang\|^lld-link'
line=$(grep -E '^image check: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
if [ -n "$line" ]; then
  add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"
else
  echo "image check: images did not build"; add 0 1
fi

# Fuzz targets, a bounded pass each (make fuzz runs them longer).
out=$(BUILD=$BUILD bash tools/fuzz.sh "${FUZZ_SECONDS:-60}"); echo "$out"
line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"

# Every firmware volume and file we write, read back by UEFIExtract (uefitool-cli).
# make package also refuses an image that lacks a GUID its manifest lists.
if ! out=$($MAKE package 2>&1); then echo "package: failed"; tail -n 20 <<<"$out"; add 0 1; fi
out=$(/usr/bin/python3 tools/ffs/uefiextract_check.py "$BUILD"/fv/*.fv "$BUILD"/ffs/*.ffs "$BUILD"/fv/pictures/*.ffs \
  "$BUILD"/package/*/*.ffs 2>&1); grep -v '^ok ' <<<"$out"
line=$(grep -E '^uefiextract: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
if [ -n "$line" ]; then
  add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"
else
  echo "uefiextract: did not run"; add 0 1
fi

# The release bundle, built twice from nothing: identical bytes, SHA256SUMS that check.
out=$(BUILD=$BUILD bash tools/release_check.sh 2>&1); grep -v ' passed, ' <<<"$out"
line=$(grep -E '^release: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"

# Firmware suite: the images in OVMF under QEMU.
if [ -f test/bed/run.py ]; then
  out=$($MAKE firmware-test 2>&1); echo "$out" | grep -v '^clang\|^lld-link'
  line=$(grep -E '^firmware: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
  if [ -n "$line" ]; then
    add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"
  else
    echo "firmware: the suite did not finish"; add 0 1
  fi
fi

# The board image: the insert tool's output read by UEFIExtract, then the
# image booted (our drivers dispatched from flash, the SMM driver in SMRAM).
if [ -f test/board/board.mk ]; then
  out=$($MAKE board-check 2>&1); echo "$out" | grep -E '^(FAIL|extract check|fvinsert)'
  line=$(grep -E '^extract check: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
  if [ -n "$line" ]; then
    add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"
  else
    echo "$out" | tail -n 15; echo "board: the image did not build"; add 0 1
  fi
  out=$(/usr/bin/python3 test/bed/run.py --build "$BUILD" --board --no-make 2>&1); echo "$out"
  line=$(grep -E '^board: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
  if [ -n "$line" ]; then
    add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"
  else
    echo "board: the boots did not finish"; add 0 1
  fi
fi

# The drivers packed as firmware files, dispatched by OVMF's own DXE dispatcher.
if [ -f test/demo/demo.py ]; then
  out=$(/usr/bin/python3 test/demo/demo.py --build "$BUILD" --make --check-dispatch 2>&1); echo "$out" | tail -n 15
  line=$(grep -E '^dispatch: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
  if [ -n "$line" ]; then
    add "$(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"
  else
    echo "dispatch: did not finish"; add 0 1
  fi
fi

echo "test: $PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ] && [ "$PASS" -gt 0 ]
