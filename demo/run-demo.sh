#!/usr/bin/env bash
# Runs the demo host with Pictolandrum.dll under 32-bit Wine (see --help).
# With a display (DISPLAY set) and no --headless: a normal window until it
# is closed. Without one: headless under Xvfb; the demo walks through the
# portal window by itself and its screenshot of both windows lands in
# BUILD/demo-screenshot.png, written beside it first and moved into place
# only when the demo succeeded. The Wine prefix is the tests'
# (BUILD/wine-prefix, made once).
set -euo pipefail

readonly Name=run-demo
readonly Wine_Grace_Seconds=120 # Wine's start and the screenshot, beyond --headless

Print_Usage() {
  printf '%s\n' \
    "usage: demo/$Name.sh BUILD [--fast] [--headless SECONDS] [CAPTURE.ts]" \
    "Plays a capture through Pictolandrum.dll in the demo host (BUILD/win32/pictolandrum-demo.exe)" \
    "under 32-bit Wine: a window with a display, headless with a screenshot without one." \
    "  BUILD               the build folder (./run uses build)"
  Print_Demo_Options
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=../scripts/messages.sh
source "$here/../scripts/messages.sh"
# shellcheck source=demo-options.sh
source "$Repo/demo/demo-options.sh"
Answer_Help_And_Version "$@"

(($# > 0)) && [[ $1 != -* ]] || Usage_Error "the first argument must be the build folder"
build=$1
shift
Read_Demo_Options "$@"
[[ -d $build ]] || Usage_Error "no build folder '$build' (./run makes build)"

build=$(cd "$build" && pwd)
runner=$Repo/scripts/run-wine.sh
prefix=$build/wine-prefix
work=$build/demo-work
program=$build/win32/pictolandrum-demo.exe
module=$build/win32/Pictolandrum.dll
screenshot=$build/demo-screenshot.png
for file in "$program" "$module"; do
  [[ -f $file ]] || Fail "$file is missing; build first (./run does)"
done

if [[ -z $Headless && -z ${DISPLAY:-} ]]; then
  Headless=$Headless_Default_Seconds
fi
arguments=()
((Fast == 0)) || arguments+=(--fast)
[[ -z $Headless ]] || arguments+=(--headless "$Headless")
[[ -z $Capture ]] || arguments+=("$Capture")

"$runner" prefix "$prefix"
if [[ -z $Headless ]]; then
  rm -rf "$work" && mkdir -p "$work" && cp "$program" "$module" "$work/" && cd "$work"
  WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    exec wine ./pictolandrum-demo.exe "${arguments[@]}"
fi

# A failed demo has said why on stderr; the previous screenshot stays.
"$runner" run "$prefix" "$work" $((Headless + Wine_Grace_Seconds)) "$program" "$module" \
  "${arguments[@]}" --screenshot demo-screenshot.bmp
convert "$work/demo-screenshot.bmp" "PNG:$screenshot.new"
mv -f "$screenshot.new" "$screenshot"
echo "Screenshot of the demo: $screenshot"
