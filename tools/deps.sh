#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, but
# only when something is missing, so a prepared machine pays nothing.
set -euo pipefail
need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for p in clang lld llvm cmake ninja-build make libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev \
         python3 python3-pefile python3-pyte python3-pil qemu-system-x86 ovmf mtools dosfstools valgrind \
         uefitool-cli gnu-efi gcc binutils; do
  have_pkg "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
