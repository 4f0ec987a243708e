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

# Where the kernel runs no 32-bit x86 programs (some virtual machines boot
# without it: "Exec format error"), Wine's 32-bit loader runs under qemu's
# i386 user-mode emulator, registered with binfmt_misc for 32-bit x86 ELF
# files. It must be qemu 8 or later: qemu 7 answers the fixed-address
# reservations Wine makes at start with other addresses, Wine then splits
# each range down to 64 KiB pieces, and every Wine process takes about 50 s
# to start (under a second with qemu 8). Debian 12 has qemu 8 and later only
# in its backports suite.
readonly Emulator_Package=qemu-user-static
readonly Emulator=/usr/bin/qemu-i386-static
readonly Emulator_Major_Min=8
readonly I386_Loader=/lib/ld-linux.so.2 # from libc6:i386, which wine32 brings
readonly Binfmt=/proc/sys/fs/binfmt_misc
readonly Binfmt_Entry=qemu-i386
# The ELF header of a 32-bit x86 executable or shared object, and its mask
# (ELF magic, class 1, little-endian, version 1, type 2 or 3, machine 3).
readonly Elf_I386_Magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
readonly Elf_I386_Mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

Print_Usage() {
  printf '%s\n' \
    "usage: scripts/$Name.sh" \
    "Installs with apt-get what the build and the tests need and Debian or Ubuntu lacks," \
    "adding the i386 architecture for 32-bit Wine; as root, or through sudo otherwise:" \
    "  native build: ${Native_Build[*]}" \
    "  cross compiler: ${Cross_Compiler[*]}" \
    "  Wine: ${Wine_Packages[*]}" \
    "  display and pictures: ${Display_Packages[*]}" \
    "  test tools: ${Test_Tools[*]}" \
    "On a kernel that runs no 32-bit x86 programs it also installs $Emulator_Package" \
    "($Emulator_Major_Min or later, from the backports suite where the release has an older one) and" \
    "registers it with binfmt_misc for 32-bit x86 programs, so that 32-bit Wine runs emulated."
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

Runs_32_Bit() { "$I386_Loader" --version >/dev/null 2>&1; }

as_root=()
if [[ $(id -u) != 0 ]]; then
  as_root=(sudo)
fi
Need_Root() { # what is to be done, for the message when it can't be
  [[ ${#as_root[@]} == 0 ]] || command -v sudo >/dev/null ||
    Fail "$1 needs root; run as root or install sudo"
}

if ((${#missing[@]} > 0 || need_i386)); then
  Need_Root "installing ${missing[*]}"
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
fi
Runs_32_Bit && exit 0

# The emulator's major version, 0 if it is not installed.
Emulator_Major() {
  local line
  line=$("$Emulator" --version 2>/dev/null | head -n 1) || true
  [[ $line =~ version\ ([0-9]+)\. ]] && echo "${BASH_REMATCH[1]}" || echo 0
}

# The release's backports suite, from the same mirror as its main suite
# (a deb822 source in /etc/apt/sources.list.d/debian.sources, as Debian 12
# writes it); says whether it could add it.
Add_Backports() {
  local sources=/etc/apt/sources.list.d/debian.sources codename uri keyring
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename && -f $sources ]] || return 1
  uri=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' "$sources" | head -n 1)
  keyring=$(sed -n 's/^Signed-By: *//p' "$sources" | head -n 1)
  [[ -n $uri ]] || return 1
  echo "$Name: adding $codename-backports for $Emulator_Package $Emulator_Major_Min or later"
  printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\n%s' "$uri" "$codename" \
    "${keyring:+Signed-By: $keyring$'\n'}" |
    "${as_root[@]}" tee "/etc/apt/sources.list.d/$codename-backports.sources" >/dev/null
  "${as_root[@]}" apt-get update -q
  Backports_Suite=$codename-backports
}

echo "$Name: this kernel runs no 32-bit x86 programs; 32-bit Wine is to run under $Emulator_Package"
Need_Root "installing $Emulator_Package"
if (($(Emulator_Major) < Emulator_Major_Min)); then
  Backports_Suite=""
  candidate=0 # the major version apt would install ("Candidate: 1:7.2+dfsg-7")
  [[ $(apt-cache policy "$Emulator_Package") =~ Candidate:\ *([0-9]+:)?([0-9]+)\. ]] &&
    candidate=${BASH_REMATCH[2]}
  if ((candidate < Emulator_Major_Min)); then
    Add_Backports || Fail "$Emulator_Package $Emulator_Major_Min or later is not to be had here"
  fi
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends ${Backports_Suite:+-t "$Backports_Suite"} \
    "$Emulator_Package"
  (($(Emulator_Major) >= Emulator_Major_Min)) ||
    Fail "$Emulator_Package $(Emulator_Major) installed; 32-bit Wine needs $Emulator_Major_Min or later"
fi

# F: the kernel opens the emulator when it is registered, so it runs in any
# mount namespace; an entry made before an upgrade still holds the old
# file, so an entry that does not run the loader is made anew.
[[ -e $Binfmt/register ]] || "${as_root[@]}" mount -t binfmt_misc binfmt_misc "$Binfmt" ||
  Fail "cannot mount binfmt_misc at $Binfmt"
if [[ -e $Binfmt/$Binfmt_Entry ]]; then
  echo -1 | "${as_root[@]}" tee "$Binfmt/$Binfmt_Entry" >/dev/null
fi
echo "$Name: registering $Emulator for 32-bit x86 programs"
printf '%s' ":$Binfmt_Entry:M::$Elf_I386_Magic:$Elf_I386_Mask:$Emulator:F" |
  "${as_root[@]}" tee "$Binfmt/register" >/dev/null ||
  Fail "cannot register $Emulator with binfmt_misc"
Runs_32_Bit || Fail "32-bit x86 programs still do not run under $Emulator"
