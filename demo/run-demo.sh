#!/usr/bin/env bash
# Runs the demo host with Pictolandrum.dll under 32-bit Wine (see --help).
# With a display (DISPLAY set) and no --headless: a normal window until it
# is closed. Without one: headless under Xvfb (12 seconds unless --headless
# says otherwise); the demo walks through the portal window by itself and
# its screenshot of both windows lands in BUILD/demo-screenshot.png, written
# beside it first and moved into place only when the demo succeeded. The Wine
# prefix is the tests' (BUILD/wine-prefix, made once).
#
# The options are read with shell builtins only, so ./run can check them
# (--check) before it installs or builds anything.
set -euo pipefail

readonly Name=run-demo
readonly Headless_Default=12 # seconds, without a display
readonly Headless_Max=86400
readonly Wine_Grace_Seconds=120 # Wine's start and the walk, beyond --headless

Print_Usage() {
  printf '%s\n' \
    "usage: demo/$Name.sh BUILD [--fast] [--headless SECONDS] [CAPTURE.ts]" \
    "       demo/$Name.sh --check [--fast] [--headless SECONDS] [CAPTURE.ts]" \
    "Plays a capture through Pictolandrum.dll in the demo host (BUILD/win32/pictolandrum-demo.exe)" \
    "under 32-bit Wine: a window with a display, headless with a screenshot without one." \
    "  BUILD               the build folder (./run uses build)" \
    "  CAPTURE.ts          a transport stream file, relative to the current folder" \
    "                      (default: the bundled sample)" \
    "  --fast              16 times the normal pace (4000 packets a second)" \
    "  --headless SECONDS  no window to wait for: walk through the portal window, play until" \
    "                      SECONDS (1 to $Headless_Max) have passed and write" \
    "                      BUILD/demo-screenshot.png (default without a display: $Headless_Default)" \
    "  --check             only check the options and the capture's path, then exit" \
    "  --                  take the next argument as CAPTURE.ts even if it starts with '-'" \
    "  -h, --help          print this help and exit"
}

# shellcheck source=../scripts/messages.sh
source "${BASH_SOURCE[0]%/*}/../scripts/messages.sh"

for argument in "$@"; do
  [[ $argument == -- ]] && break
  if [[ $argument == -h || $argument == --help ]]; then
    Print_Usage
    exit 0
  fi
done

check_only=0 build=''
if (($# > 0)) && [[ $1 == --check ]]; then
  check_only=1
  shift
elif (($# > 0)) && [[ $1 != -* ]]; then
  build=$1
  shift
else
  Usage_Error "the first argument must be the build folder or --check"
fi

fast=0 headless='' capture='' options_done=0
while (($# > 0)); do
  if ((options_done == 0)); then
    case $1 in
    --fast) fast=1; shift; continue ;;
    --headless)
      (($# >= 2)) || Usage_Error "--headless needs a value: SECONDS"
      if ! [[ $2 =~ ^[0-9]{1,6}$ ]] || ((10#$2 < 1 || 10#$2 > Headless_Max)); then
        Usage_Error "--headless: not a whole number of seconds from 1 to $Headless_Max: '$2'"
      fi
      headless=$((10#$2))
      shift 2
      continue
      ;;
    --) options_done=1; shift; continue ;;
    -*) Usage_Error "unknown option '$1'" ;;
    esac
  fi
  [[ -z $capture ]] || Usage_Error "unexpected argument '$1' (one capture at most)"
  [[ -n $1 ]] || Usage_Error "empty capture name"
  capture=$1
  shift
done

# The capture, taken from the current folder and made absolute: the demo
# runs in a folder of its own.
if [[ -n $capture ]]; then
  [[ -e $capture ]] || Usage_Error "no such capture: '$capture'"
  [[ ! -d $capture ]] || Usage_Error "'$capture' is a directory, not a capture"
  [[ $capture == /* ]] || capture=$PWD/$capture
fi
((check_only == 0)) || exit 0

[[ -d $build ]] || Usage_Error "no build folder '$build' (./run makes build)"
build=$(cd "$build" && pwd)
source_dir=$(cd "${BASH_SOURCE[0]%/*}/.." && pwd)
runner=$source_dir/scripts/run-wine.sh
prefix=$build/wine-prefix
work=$build/demo-work
program=$build/win32/pictolandrum-demo.exe
module=$build/win32/Pictolandrum.dll
screenshot=$build/demo-screenshot.png
for file in "$program" "$module"; do
  [[ -f $file ]] || Fail "$file is missing; build first (./run does)"
done

if [[ -z $headless && -z ${DISPLAY:-} ]]; then
  headless=$Headless_Default
fi
arguments=()
((fast == 0)) || arguments+=(--fast)
[[ -z $headless ]] || arguments+=(--headless "$headless")
[[ -z $capture ]] || arguments+=("$capture")

"$runner" prefix "$prefix"
if [[ -z $headless ]]; then
  rm -rf "$work" && mkdir -p "$work" && cp "$program" "$module" "$work/" && cd "$work"
  WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    exec wine ./pictolandrum-demo.exe "${arguments[@]}"
fi

# A failed demo has said why on stderr; the previous screenshot stays.
"$runner" run "$prefix" "$work" $((headless + Wine_Grace_Seconds)) "$program" "$module" \
  "${arguments[@]}" --screenshot demo-screenshot.bmp
convert "$work/demo-screenshot.bmp" "PNG:$screenshot.new"
mv -f "$screenshot.new" "$screenshot"
echo "Screenshot of the demo: $screenshot"
