#!/usr/bin/env bash
# Builds the release twice from nothing, in two build folders, and checks that
# the bundles are identical byte for byte, that sha256sum -c passes in one,
# and that it stands alone: every file its README and the caller's guide name
# is in it, its insert tool and reader run from it, and the gnu-efi example
# builds there against the bundle's own header.
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
missing=""
for ref in $(cd "$a" && grep -ohE '`(include|examples|docs|tools|BoardDriversPkg)/[^` ]*`' README.md docs/ui-protocol.md | tr -d '`' | sort -u); do
  compgen -G "$a$(sed -E 's/<[^>]*>/*/g' <<<"$ref")" >/dev/null || missing="$missing $ref"
done
if [ -z "$missing" ]; then
  echo "release: every file the bundle's README and guide name is in it"; pass=$((pass + 1))
else
  echo "release: named by the bundle's README or guide but not in it:$missing"; fail=$((fail + 1))
fi
scratch=$(mktemp -d)
if (cd "$a" && export PYTHONDONTWRITEBYTECODE=1 &&
    /usr/bin/python3 -m tools.firmware insert /usr/share/OVMF/OVMF_CODE_4M.fd "$scratch/code.fd" BoardDriversPkg/*/*.ffs &&
    /usr/bin/python3 -m tools.firmware read drivers.fv BoardDriversPkg/*/*.ffs) >"$scratch/tools.log" 2>&1; then
  echo "release: the bundle's insert tool and reader run from it"; pass=$((pass + 1))
else
  echo "release: the bundle's insert tool or reader failed:"; tail -n 5 "$scratch/tools.log"; fail=$((fail + 1))
fi
if make -s -C "$a/examples/gnu_efi_caller" OUT="$scratch/gnu-efi" >"$scratch/gnu-efi.log" 2>&1 && [ -s "$scratch/gnu-efi/caller.efi" ]; then
  echo "release: the bundle's gnu-efi example builds from the bundle alone"; pass=$((pass + 1))
else
  echo "release: the bundle's gnu-efi example does not build:"; tail -n 5 "$scratch/gnu-efi.log"; fail=$((fail + 1))
fi
rm -rf "$scratch"
echo "release: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
