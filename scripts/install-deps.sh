#!/usr/bin/env bash
# Installs whatever the build and the tests need and the machine (Debian or
# Ubuntu) lacks, as root or through sudo; does nothing when all is there.
set -euo pipefail

readonly Name=install-deps

# The packages by purpose.
readonly Native_Build=(cmake make g++ python3)
readonly Cross_Compiler=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
# 32-bit Wine, with the fonts its window frames and check boxes draw with
# (Marlett and Tahoma in fonts-wine).
readonly Wine_Packages=(wine wine32 fonts-wine)
readonly Display_Packages=(xvfb xauth x11-apps imagemagick)
readonly Test_Tools=(libgtest-dev libbenchmark-dev clang libclang-rt-14-dev clang-format)

Print_Usage() {
  printf '%s\n' \
    "usage: scripts/$Name.sh" \
    "Installs with apt-get what the build and the tests need and Debian or Ubuntu lacks," \
    "adding the i386 architecture for 32-bit Wine; as root, or through sudo otherwise:" \
    "  native build: ${Native_Build[*]}" \
    "  cross compiler: ${Cross_Compiler[*]}" \
    "  Wine: ${Wine_Packages[*]}" \
    "  display and pictures: ${Display_Packages[*]}" \
    "  test tools: ${Test_Tools[*]}"
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=messages.sh
source "$here/../scripts/messages.sh"
Answer_Help_And_Version "$@"
(($# == 0)) || Usage_Error "unknown argument '$1'"

packages=("${Native_Build[@]}" "${Cross_Compiler[@]}" "${Wine_Packages[@]}"
          "${Display_Packages[@]}" "${Test_Tools[@]}")

need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done
((${#missing[@]} > 0 || need_i386)) || exit 0

as_root=()
if [[ $(id -u) != 0 ]]; then
  command -v sudo >/dev/null || Fail "missing ${missing[*]}; run as root or install sudo"
  as_root=(sudo)
fi
if ((need_i386)); then
  echo "$Name: adding the i386 architecture for 32-bit Wine"
  "${as_root[@]}" dpkg --add-architecture i386
fi
echo "$Name: installing ${missing[*]}"
"${as_root[@]}" apt-get update -q
if ((${#missing[@]} > 0)); then
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
