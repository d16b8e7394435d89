#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The board checks on the source-built board (make edk2-board-test builds it
# first): what its flash holds, the five board boots of make test, the demo flash tool's run, and
# the DEBUG build's first boot, which must pass with no ASSERT. Prints each
# suite's lines, the time of each, and one summary line:
#
#   edk2-board test: N passed, M failed
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
BUILD=${BUILD:-build}
PY=/usr/bin/python3
LOGS=$BUILD/test-logs
mkdir -p "$LOGS"
PASS=0 FAIL=0
TIMES=()

# Adds a suite's "NAME: N passed, M failed" line from its log to the totals.
count() {
  local line
  line=$(grep -E "^$1: [0-9]+ passed, [0-9]+ failed" "$2" | tail -n 1)
  if [ -z "$line" ]; then
    echo "$1: did not finish (see $2)"; tail -n 20 "$2"; FAIL=$((FAIL + 1)); return
  fi
  PASS=$((PASS + $(sed -E 's/.* ([0-9]+) passed.*/\1/' <<<"$line")))
  FAIL=$((FAIL + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
}
suite() {  # name log command...
  local name=$1 log=$2 t0=$SECONDS
  shift 2
  "$@" >"$log" 2>&1
  grep -v '^PASS ' "$log"
  count "$name" "$log"
  TIMES+=("$name $((SECONDS - t0))s")
}

# The flash holds the package's files and the window alias, and no test stand-in.
suite "edk2-board contents" "$LOGS/edk2-board-contents.log" $PY -m tools.edk2board.contents "$BUILD/edk2-board/OVMF_CODE.fd" \
  "$BUILD/package"
suite edk2-board "$LOGS/edk2-board.log" $PY test/bed/run.py --build "$BUILD" --board edk2-board --no-make
suite "demo checks" "$LOGS/edk2-board-demo.log" $PY examples/flash_tool/demo.py --build "$BUILD" --board edk2-board
# The DEBUG build asserts where a RELEASE build reads past its tables: its
# first boot must reach the boot program and pass with no ASSERT.
suite edk2-board-debug "$LOGS/edk2-board-debug.log" $PY test/bed/run.py --build "$BUILD" --board edk2-board-debug \
  --group board --no-make

# The platform's own PCDs read the same through the bridge as without it:
# the first boot's note of them on the board, and on the board built with
# the bridge's statement left out (whose drivers then cache garbage, which
# is why only the note is read from that boot).
t0=$SECONDS
$PY test/bed/run.py --build "$BUILD" --board edk2-board-without-PcdBridgeDxe --group board --no-make \
  >"$LOGS/edk2-board-nobridge.log" 2>&1
# Token numbers, sizes and values must agree; a value may differ only where
# both are pages below 256 MiB, an address the platform allocates at boot
# (a different image lays memory out differently).
verdict=$($PY - "$LOGS/edk2-board.log" "$LOGS/edk2-board-nobridge.log" <<'PYEOF'
import re, sys
def walk(path):
    for line in open(path, errors="replace"):
        m = re.search(r"platform PCDs: (\d+) local tokens, digest \w+:(.*)", line)
        if m:
            return dict(re.findall(r"(\d+)=(\[\d+ bytes\]|\S+)", m.group(2)))
walks = [walk(p) for p in sys.argv[1:]]
if None in walks:
    print("FAIL no walk of the platform's PCDs in %s" % " and ".join(p for p, w in zip(sys.argv[1:], walks) if w is None))
    sys.exit()
a, b = walks
if sorted(a, key=int) != sorted(b, key=int):
    print("FAIL the token lists differ: %s" % " ".join(sorted(set(a) ^ set(b), key=int)))
    sys.exit()
page = lambda v: re.fullmatch(r"[0-9A-F]+", v) and int(v, 16) % 0x1000 == 0 and 0x100000 <= int(v, 16) < 0x10000000
diff = [t for t in a if a[t] != b[t]]
bad = [t for t in diff if not (page(a[t]) and page(b[t]))]
say = ", ".join("%s: %s / %s" % (t, a[t], b[t]) for t in diff) or "none"
print("%s %d tokens; values that differ (with / without the bridge): %s" % ("FAIL" if bad else "PASS", len(a), say))
PYEOF
)
if [ "${verdict%% *}" = PASS ]; then
  echo "PASS  edk2-board.platform-pcds (${verdict#PASS })"; PASS=$((PASS + 1))
else
  echo "FAIL  edk2-board.platform-pcds: ${verdict#FAIL }"; FAIL=$((FAIL + 1))
fi
grep -m1 -E 'note: platform PCDs' "$LOGS/edk2-board-nobridge.log" | sed 's/note:/note (without the bridge):/'
TIMES+=("nobridge $((SECONDS - t0))s")

echo "stages: ${TIMES[*]}"
echo "edk2-board test: $PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ] && [ "$PASS" -gt 0 ]
