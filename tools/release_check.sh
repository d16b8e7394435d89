#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Builds the release twice from nothing, in two build folders, and checks that
# the bundles are identical byte for byte and that sha256sum -c passes in one.
# Prints "release: N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
pass=0 fail=0
for side in a b; do
  rm -rf "$BUILD/repro-$side"
  if ! nice make --no-print-directory -j2 BUILD="$BUILD/repro-$side" release >"$BUILD/repro-$side.log" 2>&1; then
    echo "release: the build in $BUILD/repro-$side failed (see $BUILD/repro-$side.log)"; tail -n 5 "$BUILD/repro-$side.log"
    echo "release: 0 passed, 1 failed"; exit 1
  fi
done
a=$(echo "$BUILD"/repro-a/release/*/) b=$(echo "$BUILD"/repro-b/release/*/)
if diff -r "$a" "$b" >/dev/null; then
  echo "release: two clean builds give identical bundles ($(find "$a" -type f | wc -l) files)"; pass=$((pass + 1))
else
  echo "release: the two builds differ:"; diff -rq "$a" "$b" | head; fail=$((fail + 1))
fi
if (cd "$a" && sha256sum --quiet -c SHA256SUMS); then
  echo "release: sha256sum -c passes in $(basename "$a")"; pass=$((pass + 1))
else
  fail=$((fail + 1))
fi
echo "release: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
