#!/usr/bin/env bash
# Runs the Windows programs of the demo and the tests under 32-bit Wine with
# no display of our own (see --help). The prefix gets one virtual desktop
# (bare X11 windows without a window manager can hang in DestroyWindow), no
# crash debugger, so a crash fails at once, and Wine's own fonts (Debian's
# fonts-wine: Marlett for the title bar buttons and check marks, the MS Sans
# Serif and Tahoma stand-ins for the dialogs) linked into its Fonts folder.
# This Wine looks for them beside its data folder under a path it cannot
# resolve, so without the links it draws with DejaVu: letters where the
# frame's symbols belong, wider text.
set -euo pipefail

readonly Name=run-wine

Print_Usage() {
  printf '%s\n' \
    "usage: scripts/$Name.sh prefix PREFIX" \
    "       scripts/$Name.sh run PREFIX WORKDIR SECONDS PROGRAM MODULE [ARGUMENTS...]" \
    "  prefix    make the 32-bit Wine prefix PREFIX (once, and again when an older setup made it)" \
    "  run       run PROGRAM with ARGUMENTS beside a copy of MODULE in an emptied WORKDIR under" \
    "            Xvfb, killed after SECONDS; the exit status is the program's (77: skipped)"
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=messages.sh
source "$here/../scripts/messages.sh"
# Only the first argument: the rest may be the program's own.
Answer_Help_And_Version "${1:-}"

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

in_display() { # the command, then the prefix's server shut down, in one X server
  # shellcheck disable=SC2016 # the inner bash expands them
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '"$@"; status=$?; wineserver -k 2>/dev/null; exit $status' bash "$@"
}

# Written into the prefix once it is complete; a prefix with another one is
# made again. Changed whenever the prefix's setup changes (2: Wine's fonts
# linked in).
readonly Prefix_Version="pictolandrum prefix 2"
readonly Prefix_Marker=.picto-ready
readonly Wine_Font_Folder=/usr/share/wine/fonts
readonly Needed_Fonts=(marlett.ttf tahoma.ttf ms_sans_serif.ttf)

make_prefix() {
  local marker="$WINEPREFIX/$Prefix_Marker" made=""
  if [ -f "$marker" ]; then read -r made <"$marker" || true; fi
  [ "$made" = "$Prefix_Version" ] && return 0
  for font in "${Needed_Fonts[@]}"; do
    [ -f "$Wine_Font_Folder/$font" ] ||
      Fail "$Wine_Font_Folder/$font missing: install the Debian package fonts-wine"
  done
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  in_display bash -c '
    wineboot -i >/dev/null 2>&1 &&
    wine reg add "HKCU\\Software\\Wine\\Explorer" /v Desktop /d Default /f >/dev/null &&
    wine reg add "HKCU\\Software\\Wine\\Explorer\\Desktops" /v Default /d 1280x1024 /f >/dev/null &&
    wine reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /v Debugger /d "" /f >/dev/null &&
    wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null &&
    wineserver -w'
  ln -sf "$Wine_Font_Folder"/* "$WINEPREFIX/drive_c/windows/Fonts/"
  echo "$Prefix_Version" >"$marker"
}

run_program() {
  local workdir=$1 seconds=$2 program=$3 module=$4
  shift 4
  rm -rf "$workdir" && mkdir -p "$workdir"
  cp "$program" "$module" "$workdir/"
  cd "$workdir"
  timeout -k 10 "$seconds" bash -c "$(declare -f in_display); in_display wine \"\$@\"" bash \
    "./$(basename "$program")" "$@"
}

case ${1:-} in
  prefix)
    [ $# -eq 2 ] || Usage_Error "prefix takes one argument, PREFIX"
    # Made again by removing it: never a folder that is not a Wine prefix.
    if [[ -e $2 && ! -f $2/system.reg && -n $(shopt -s nullglob dotglob; echo "$2"/*) ]]; then
      Usage_Error "'$2' is neither empty nor a Wine prefix; not touching it"
    fi
    ;;
  run)
    [ $# -ge 6 ] || Usage_Error "run needs PREFIX WORKDIR SECONDS PROGRAM MODULE"
    [[ -n $3 && $3 != / ]] || Usage_Error "run: '$3' cannot be the WORKDIR"
    [[ $4 =~ ^[1-9][0-9]{0,5}$ ]] || Usage_Error "run: SECONDS must be a whole number from 1: '$4'"
    [ -f "$5" ] || Usage_Error "run: no program '$5'"
    [ -f "$6" ] || Usage_Error "run: no module '$6'"
    ;;
  *) Usage_Error "unknown command '${1:-}'" ;;
esac
command=$1
WINEPREFIX=$2
[[ $WINEPREFIX == /* ]] || WINEPREFIX=$PWD/$WINEPREFIX # Wine takes no other
export WINEPREFIX
case $command in
  prefix) make_prefix ;;
  run) shift 2; run_program "$@" ;;
esac
