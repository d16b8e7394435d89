#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# The source-built board: Debian's OVMF built from Debian's edk2 source the
# way Debian builds OVMF_CODE_4M.secboot.fd (OvmfPkg/OvmfPkgIa32X64.dsc,
# -a IA32 -a X64 -t GCC5 and the flags of debian/rules), with our package
# added by the README's integration steps (tools/edk2board/platform.py).
#
#   tools/edk2board/build.sh [RELEASE|DEBUG] [--without MODULE]
#
# writes $BUILD/edk2-board/OVMF_CODE.fd and OVMF_VARS.fd (DEBUG:
# $BUILD/edk2-board-debug/). --without leaves a module's fragment statement
# out, as a board that has its own does, into $BUILD/edk2-board-without-MODULE/
# (from the RELEASE workspace: only the flash is made again). Needs make
# package and the window alias image ($BUILD/efi/BoardPciWindow.efi) built
# first; make edk2-board does both.
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
BUILD=${BUILD:-build}
TYPE=${1:-RELEASE}
WITHOUT=()
[ "${2:-}" = "--without" ] && [ -n "${3:-}" ] && WITHOUT=(--without "$3")
case "$TYPE" in
  RELEASE) OUT=$BUILD/edk2-board ;;
  DEBUG) OUT=$BUILD/edk2-board-debug ;;
  *) echo "edk2-board: build type $TYPE (RELEASE or DEBUG)" >&2; exit 2 ;;
esac
# A workspace per build type, so the two builds can run side by side.
WS=$OUT-ws
[ ${#WITHOUT[@]} -gt 0 ] && OUT=$BUILD/edk2-board-without-${3}
mkdir -p "$WS" && WS=$(cd "$WS" && pwd) || exit 1
PY=/usr/bin/python3
# shellcheck source=tools/edk2.sh
. tools/edk2.sh || { echo "edk2-board: no EDK II tree (tools/edk2.sh failed)" >&2; exit 1; }
mkdir -p "$OUT"

# Steps 1-4 of the README's integration into the workspace's copy of the platform.
DSC=$($PY -m tools.edk2board.platform --tree "$EDK2_TREE" --package "$BUILD/package" --workspace "$WS" \
  --window "$BUILD/efi/BoardPciWindow.efi" "${WITHOUT[@]}") || exit 1

# Debian's own flags for its SMM secure-boot 4 MB image, read from its rules.
FLAGS=$(cd "$EDK2_TREE" && printf 'include debian/rules\n.PHONY: board-flags\nboard-flags:\n\t@echo $(OVMF_4M_SMM_FLAGS)\n' |
  make -s -f - board-flags) || { echo "edk2-board: cannot read OVMF_4M_SMM_FLAGS from debian/rules" >&2; exit 1; }
[ -n "$FLAGS" ] || { echo "edk2-board: debian/rules gives no OVMF_4M_SMM_FLAGS" >&2; exit 1; }

# edksetup.sh reads unset variables.
set +u
edk2_env "$WS" "$WS:$EDK2_TREE" || { echo "edk2-board: edksetup.sh failed" >&2; exit 1; }
LOG=$OUT/build.log
echo "edk2-board: build -a IA32 -a X64 -t GCC5 -p $DSC $FLAGS -b $TYPE" >&2
t0=$SECONDS
# shellcheck disable=SC2086
(cd "$WS" && build -a IA32 -a X64 -t GCC5 -p "$DSC" $FLAGS -b "$TYPE" -n "$(nproc)") >"$LOG" 2>&1 ||
  { echo "edk2-board: the $TYPE build failed (see $LOG)" >&2; grep -E ': error|error [0-9]+:|ERROR' "$LOG" | head -n 20 >&2; exit 1; }
# Warnings that name our files are integration faults, not noise.
if grep -E 'warning' "$LOG" | grep -E 'BoardDriversPkg|BoardOvmf' >&2; then
  echo "edk2-board: the build warned about our files (see $LOG)" >&2
  exit 1
fi
FV=$WS/Build/Ovmf3264/${TYPE}_GCC5/FV
cp "$FV/OVMF_CODE.fd" "$OUT/OVMF_CODE.fd.part" && mv "$OUT/OVMF_CODE.fd.part" "$OUT/OVMF_CODE.fd" || exit 1
cp "$FV/OVMF_VARS.fd" "$OUT/OVMF_VARS.fd.part" && mv "$OUT/OVMF_VARS.fd.part" "$OUT/OVMF_VARS.fd" || exit 1
echo "edk2-board: $TYPE built in $((SECONDS - t0)) s: $OUT/OVMF_CODE.fd, $OUT/OVMF_VARS.fd" >&2
