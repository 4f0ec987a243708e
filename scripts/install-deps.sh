#!/usr/bin/env bash
# Installs whatever the build and the tests need and the machine lacks:
# compilers, test and benchmark libraries, clang's fuzzer runtime, MinGW-w64
# for the 32-bit DLL, 32-bit Wine and Xvfb to run it headless.
set -euo pipefail

packages=(cmake make g++ libgtest-dev libbenchmark-dev clang libclang-rt-14-dev
          g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32 xvfb xauth
          x11-apps imagemagick python3 clang-format)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture for 32-bit Wine"
  dpkg --add-architecture i386
  apt_update_needed=1
fi

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${apt_update_needed:-}" ]; then
  [ "$(id -u)" = 0 ] || { echo "install-deps: missing ${missing[*]}; run as root to install" >&2; exit 1; }
  echo "install-deps: installing ${missing[*]}"
  apt-get update -q
  [ ${#missing[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
