#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the project needs that are not
# installed yet. Idempotent and quiet when everything is there.
#   scripts/setup.sh [build|wine|release|all]   (default: all)
set -euo pipefail

build_pkgs=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev zlib1g-dev
            python3 unzip zip p7zip-full libarchive-tools
            libcli11-dev nlohmann-json3-dev libxxhash-dev)
# The Windows build and its runner (scripts/winrun.sh): Wine inside a private
# Xvfb, a Russian locale for code pages 1251/866, xwd + netpbm for screenshots.
# The 32-bit build (i686 MinGW-w64, posix threads like the 64-bit one) and the
# 32-bit Wine that runs it: wine32 is an i386 package, so the i386
# architecture is added to dpkg first.
wine_pkgs=(g++-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 xvfb xauth locales fonts-wine
           x11-apps x11-utils netpbm util-linux
           g++-mingw-w64-i686-posix wine32:i386)
# The release: the user guide rendered from Markdown, the executables' headers
# and resources read back by an independent PE reader (both for Debian's
# /usr/bin/python3).
release_pkgs=(python3-markdown python3-pefile zip unzip)

case "${1:-all}" in
  build) wanted=("${build_pkgs[@]}") ;;
  wine) wanted=("${wine_pkgs[@]}") ;;
  release) wanted=("${release_pkgs[@]}") ;;
  all) wanted=("${build_pkgs[@]}" "${wine_pkgs[@]}" "${release_pkgs[@]}") ;;
  *) echo "usage: $0 [build|wine|release|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
case " ${missing[*]} " in
  *:i386\ *) dpkg --print-foreign-architectures | grep -qx i386 ||
      "${sudo_cmd[@]}" dpkg --add-architecture i386 ;;
esac
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
