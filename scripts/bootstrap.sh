#!/usr/bin/env bash
# Installs every package the builds and tests need, from Debian's packages
# only. Idempotent: on a prepared machine it checks and returns in seconds.
set -euo pipefail

packages=(cmake ninja-build g++ zlib1g-dev libgtest-dev googletest
          g++-mingw-w64-i686 libz-mingw-w64-dev wine wine32:i386
          xvfb x11-utils imagemagick python3-pytest nsis binutils-mingw-w64-i686
          osslsigncode openssl clang libclang-rt-14-dev libfuzzer-14-dev)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "bootstrap: all packages present"
  exit 0
fi

echo "bootstrap: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" \
  || DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${missing[@]}"
