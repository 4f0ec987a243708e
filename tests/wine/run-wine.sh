#!/usr/bin/env bash
# Runs the Windows test programs under 32-bit Wine with no display of our own.
#   run-wine.sh prefix PREFIX
#       makes the Wine prefix once (again only if it is incomplete): one
#       virtual desktop (bare X11 windows
#       without a window manager can hang in DestroyWindow) and no crash
#       debugger, so a crash fails at once.
#   run-wine.sh run PREFIX WORKDIR SECONDS PROGRAM MODULE [ARGUMENTS...]
#       copies the program and the module into an empty WORKDIR and runs the
#       program there under xvfb-run, killed after SECONDS. The exit code is
#       the program's (77: skipped).
set -euo pipefail

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

in_display() { # the command, then the prefix's server shut down, in one X server
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '"$@"; status=$?; wineserver -k 2>/dev/null; exit $status' bash "$@"
}

make_prefix() {
  [ -f "$WINEPREFIX/.picto-ready" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$(dirname "$WINEPREFIX")"
  in_display bash -c '
    wineboot -i >/dev/null 2>&1 &&
    wine reg add "HKCU\\Software\\Wine\\Explorer" /v Desktop /d Default /f >/dev/null &&
    wine reg add "HKCU\\Software\\Wine\\Explorer\\Desktops" /v Default /d 1280x1024 /f >/dev/null &&
    wine reg add "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug" /v Debugger /d "" /f >/dev/null &&
    wine reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null &&
    wineserver -w'
  touch "$WINEPREFIX/.picto-ready"
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

command=$1
export WINEPREFIX=$2
case $command in
  prefix) make_prefix ;;
  run) shift 2; run_program "$@" ;;
  *) echo "usage: run-wine.sh prefix PREFIX | run PREFIX WORKDIR SECONDS PROGRAM MODULE [ARGS]" >&2; exit 2 ;;
esac
