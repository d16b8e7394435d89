#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-2-Clause-Patent
# Debian's EDK II source (the source of the `ovmf` package our board image
# starts from) with its BaseTools built, in $BUILD/edk2/. Fetched and built
# once; reused while the source version stays the same.
#
#   bash tools/edk2.sh        prints the tree's absolute path (the only line on
#                             stdout; progress goes to stderr)
#   . tools/edk2.sh           the same, and exports EDK2_TREE (the tree),
#                             EDK2_VERSION (the Debian source version) and
#                             EDK_TOOLS_PATH; then `edk2_env WORKSPACE
#                             [PACKAGES_PATH]` runs edksetup.sh for a build
#
# BUILD (default build, relative to the repository) is where it lives; EDK2_VERSION picks a version
# (default: the installed ovmf package's, else apt's newest).
_edk2_main() {
  local build=${BUILD:-build} root sudo="" want dir tree stamp
  # A relative BUILD is under the repository, as for make, wherever the caller is.
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd) || return 1
  case $build in /*) ;; *) build=$root/$build ;; esac
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  mkdir -p "$build/edk2" || return 1
  dir=$(cd "$build/edk2" && pwd)

  _edk2_have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
  local need=() p
  for p in dpkg-dev build-essential uuid-dev nasm python3 python3-distutils; do
    _edk2_have "$p" || need+=("$p")
  done
  # iasl is provided by acpica-tools.
  command -v iasl >/dev/null 2>&1 || need+=(iasl)

  want=${EDK2_VERSION:-}
  [ -n "$want" ] || want=$(dpkg-query -W -f='${Version}' ovmf 2>/dev/null) || want=""
  tree=$(cat "$dir/tree" 2>/dev/null) || tree=""
  stamp=$(cat "$dir/basetools.stamp" 2>/dev/null) || stamp=""
  if [ ${#need[@]} -eq 0 ] && [ -n "$tree" ] && [ -x "$tree/BaseTools/Source/C/bin/GenFw" ] && [ -n "$stamp" ] &&
     { [ -z "$want" ] || [ "$stamp" = "$want" ]; }; then
    EDK2_TREE=$tree EDK2_VERSION=$stamp
    return 0
  fi

  # A deb-src entry beside the machine's deb entries: same URIs, suites,
  # components and keyring, so apt-get source finds the matching source.
  if ! grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "edk2: adding deb-src entries for the machine's deb entries" >&2
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed -E 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        $sudo tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
    else
      grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | sed 's/^deb /deb-src /' |
        $sudo tee /etc/apt/sources.list.d/debian-src.list >/dev/null
    fi
    need+=(dpkg-dev)  # forces the update below
  fi
  local versions
  versions=$(apt-cache showsrc edk2 2>/dev/null | sed -n 's/^Version: //p')
  if [ ${#need[@]} -gt 0 ] || [ -z "$versions" ] || { [ -n "$want" ] && ! grep -qxF "$want" <<<"$versions"; }; then
    echo "edk2: apt-get update" >&2
    $sudo apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3 update -qq >&2 || return 1
  fi
  if [ ${#need[@]} -gt 0 ]; then
    echo "edk2: installing ${need[*]}" >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 -o Acquire::Retries=3 install -y -qq --no-install-recommends "${need[@]}" >/dev/null || return 1
  fi
  [ -n "$want" ] || want=$(apt-cache showsrc edk2 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1)
  [ -n "$want" ] || { echo "edk2: no edk2 source package found" >&2; return 1; }

  if [ "$stamp" != "$want" ] || [ -z "$tree" ] || [ ! -d "$tree/BaseTools" ]; then
    echo "edk2: apt-get source edk2=$want into $dir" >&2
    # The mirror sometimes drops a connection: retry the fetch a few times.
    local try ok=""
    for try in 1 2 3 4; do
      (cd "$dir" && rm -rf src && mkdir src && cd src &&
        apt-get -o Acquire::Retries=3 -o APT::Sandbox::User=root source -qq "edk2=$want" >&2) && { ok=1; break; }
      echo "edk2: apt-get source failed (try $try)" >&2
      sleep $((try * 5))
    done
    [ -n "$ok" ] || return 1
    tree=$(find "$dir/src" -mindepth 1 -maxdepth 1 -type d -name 'edk2-*' | head -n 1)
    [ -n "$tree" ] && [ -f "$tree/edksetup.sh" ] || { echo "edk2: no source tree in $dir/src" >&2; return 1; }
    rm -f "$dir/basetools.stamp"
    echo "$tree" >"$dir/tree"
    local t0=$SECONDS
    echo "edk2: building BaseTools" >&2
    # The C tools only: BaseTools' own test suite is not needed to use them.
    make -C "$tree/BaseTools" -j"$(nproc)" Source/C >"$dir/basetools.log" 2>&1 ||
      { echo "edk2: the BaseTools build failed (see $dir/basetools.log)" >&2; tail -n 20 "$dir/basetools.log" >&2; return 1; }
    echo "edk2: BaseTools built in $((SECONDS - t0)) s" >&2
    echo "$want" >"$dir/basetools.stamp"
  fi
  EDK2_TREE=$tree EDK2_VERSION=$want
}

# Sets up the build environment (edksetup.sh) for a workspace; PACKAGES_PATH
# defaults to the workspace then the EDK II tree.
edk2_env() {
  export WORKSPACE=$1
  export PACKAGES_PATH=${2:-$1:$EDK2_TREE}
  export EDK_TOOLS_PATH=$EDK2_TREE/BaseTools
  mkdir -p "$WORKSPACE/Conf"
  export CONF_PATH=$WORKSPACE/Conf
  # edksetup.sh reads the caller's positional arguments.
  set --
  # shellcheck disable=SC1091
  . "$EDK2_TREE/edksetup.sh" >/dev/null
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  _edk2_main || exit 1
  echo "$EDK2_TREE"
else
  if _edk2_main; then
    export EDK2_TREE EDK2_VERSION EDK_TOOLS_PATH=$EDK2_TREE/BaseTools
  else
    return 1
  fi
fi
