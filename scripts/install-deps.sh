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

# apt-get update is tried this often, this many seconds apart (the
# environment variable overrides the pause): a mirror that is being synced
# serves lists that disagree with its Release file for a while.
readonly Update_Tries=3
readonly Pause_Variable=PICTO_APT_RETRY_SECONDS
readonly Pause_Default_Seconds=30
readonly Pause_Max_Seconds=3600

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
    "registers it with binfmt_misc for 32-bit x86 programs, so that 32-bit Wine runs emulated." \
    "An apt-get update that cannot fetch an index is tried $Update_Tries times, $Pause_Default_Seconds seconds apart" \
    "($Pause_Variable=SECONDS, 0 to $Pause_Max_Seconds, sets the pause); then the packages are" \
    "installed all the same, and if that fails too, one line names the step and the index."
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=messages.sh
source "$here/../scripts/messages.sh"
Answer_Help_And_Version "$@"
(($# == 0)) || Usage_Error "unknown argument '$1'"
Pause_Seconds=${!Pause_Variable-$Pause_Default_Seconds}
if ! [[ $Pause_Seconds =~ ^[0-9]{1,4}$ ]] || ((10#$Pause_Seconds > Pause_Max_Seconds)); then
  Usage_Error "$Pause_Variable: '$Pause_Seconds' is no whole number of seconds from 0 to $Pause_Max_Seconds"
fi
Pause_Seconds=$((10#$Pause_Seconds))

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

# apt-get's output, shown as it comes and kept here to be read afterwards.
Apt_Log=''
trap '[[ -z $Apt_Log ]] || rm -f "$Apt_Log"' EXIT

# Runs apt-get ARG... as root, non-interactive; its standard output and
# error each stay where they were, and both are copied into Apt_Log.
Apt_Get() {
  [[ -n $Apt_Log ]] || Apt_Log=$(mktemp) || Fail "cannot make a temporary file for apt-get's output"
  : >"$Apt_Log"
  local status=0
  { "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>&1 >&3 3>&- |
      tee -a "$Apt_Log" >&2 3>&-; } 3>&1 | tee -a "$Apt_Log" || status=$?
  return "$status"
}

# The last "E:" line of Apt_Log, without the "E: ".
Apt_Error() {
  local line error=''
  while IFS= read -r line; do
    [[ $line =~ ^E:\ (.*) ]] && error=${BASH_REMATCH[1]}
  done <"$Apt_Log"
  echo "$error"
}

# What the apt-get update in Apt_Log failed to do, for "apt-get update ...";
# empty when it fetched everything and exited 0. The indexes it names are
# those of its "Err:" lines, else the files of its "Failed to fetch" lines,
# with the first reason it gives (the mirror's address dropped). apt may
# exit 0 after such a failure: the lines count, whatever its status.
Update_Failure_Of() { # apt-get's exit status
  local line names='' files='' reason='' after_error=0
  while IFS= read -r line; do
    if [[ $line =~ ^Err:[0-9]+\ +(.*[^ ]) ]]; then
      names+="${names:+, }${BASH_REMATCH[1]}"
      after_error=1
      continue
    fi
    if ((after_error)) && [[ $line =~ ^\ +([^ ].*) ]]; then
      reason=${reason:-${BASH_REMATCH[1]}}
    elif [[ $line =~ ^[EW]:\ Failed\ to\ fetch\ ([^ ]+)\ *(.*) ]]; then
      files+="${files:+, }${BASH_REMATCH[1]}"
      reason=${reason:-${BASH_REMATCH[2]}}
    fi
    after_error=0
  done <"$Apt_Log"
  names=${names:-$files}
  reason=${reason% \[IP:*\]}
  if [[ -n $names ]]; then
    echo "could not fetch $names${reason:+ ($reason)}"
  elif (($1 != 0)); then
    local error
    error=$(Apt_Error)
    echo "failed (exit status $1${error:+: $error})"
  fi
}

# apt-get update, tried up to Update_Tries times, Pause_Seconds apart,
# each failure named. When the last try fails too, Update_Failure says how
# and the install goes on all the same: it often needs nothing from the
# index that failed.
Update_Failure=''
Update_Package_Lists() {
  local try status
  for ((try = 1; ; ++try)); do
    status=0
    Apt_Get update -q || status=$?
    Update_Failure=$(Update_Failure_Of "$status")
    [[ -n $Update_Failure ]] || return 0
    ((try < Update_Tries)) || break
    echo "$Name: apt-get update $Update_Failure; trying again in $Pause_Seconds s" \
      "(try $((try + 1)) of $Update_Tries)"
    sleep "$Pause_Seconds"
  done
  echo "$Name: apt-get update $Update_Failure, $Update_Tries times; going on all the same"
}

# apt-get install ARG... for the step STEP ("installing ..."). A failure is
# one line: the step, apt's own reason, and the index the update could not
# fetch, if any, with what to do about it.
Install() { # STEP ARG...
  local step=$1
  shift
  Apt_Get install -y -q --no-install-recommends "$@" && return 0
  local error text
  error=$(Apt_Error)
  text="$step failed${error:+ (apt-get: $error)}"
  [[ -z $Update_Failure ]] || text+="; apt-get update $Update_Failure $Update_Tries times: the \
mirror is likely in the middle of a sync, or its lists disagree; try again later, or point apt at \
another mirror (/etc/apt/sources.list.d/)"
  Fail "$text"
}

if ((${#missing[@]} > 0 || need_i386)); then
  Need_Root "installing ${missing[*]}"
  if ((need_i386)); then
    echo "$Name: adding the i386 architecture for 32-bit Wine"
    "${as_root[@]}" dpkg --add-architecture i386
  fi
  echo "$Name: installing ${missing[*]}"
  Update_Package_Lists
  if ((${#missing[@]} > 0)); then
    Install "installing ${missing[*]}" "${missing[@]}"
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
  Update_Package_Lists
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
  Install "installing $Emulator_Package${Backports_Suite:+ from $Backports_Suite}" \
    ${Backports_Suite:+-t "$Backports_Suite"} "$Emulator_Package"
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
