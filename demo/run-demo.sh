#!/usr/bin/env bash
# Runs the demo host with Pictolandrum.dll under 32-bit Wine.
#   demo/run-demo.sh BUILD [--fast] [--headless SECONDS] [CAPTURE.ts]
# With a display (DISPLAY set) and no --headless: a normal window until it
# is closed. Without one: headless under Xvfb (12 seconds unless --headless
# says otherwise); the demo walks through the portal window by itself and
# its screenshot of both windows lands in BUILD/demo-screenshot.png.
# The Wine prefix is the tests' (BUILD/wine-prefix, made once).
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run-demo.sh BUILD [DEMO OPTIONS] [CAPTURE.ts]}" && pwd)
shift
runner=$source_dir/tests/wine/run-wine.sh
prefix=$build/wine-prefix
work=$build/demo-work
program=$build/win32/pictolandrum-demo.exe
module=$build/win32/Pictolandrum.dll
for file in "$program" "$module"; do
  [ -f "$file" ] || { echo "run-demo: $file is missing; build first (./run does)" >&2; exit 1; }
done

# The demo's arguments, with a capture's path made absolute (it runs
# elsewhere); headless when asked or when there is no display.
arguments=() headless=
while [ $# -gt 0 ]; do
  case $1 in
    --headless) headless=$2; arguments+=("$1" "$2"); shift 2 ;;
    --screenshot|--module) arguments+=("$1" "$2"); shift 2 ;;
    -*) arguments+=("$1"); shift ;;
    *) if [ -e "$1" ]; then arguments+=("$(realpath "$1")"); else arguments+=("$1"); fi; shift ;;
  esac
done
if [ -z "$headless" ] && [ -z "${DISPLAY:-}" ]; then
  headless=12
  arguments+=(--headless "$headless")
fi

"$runner" prefix "$prefix"
if [ -z "$headless" ]; then
  rm -rf "$work" && mkdir -p "$work" && cp "$program" "$module" "$work/" && cd "$work"
  WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    exec wine ./pictolandrum-demo.exe "${arguments[@]}"
fi

rm -f "$build/demo-screenshot.png"
"$runner" run "$prefix" "$work" $((headless + 120)) "$program" "$module" \
  "${arguments[@]}" --screenshot demo-screenshot.bmp
convert "$work/demo-screenshot.bmp" "$build/demo-screenshot.png"
echo "Screenshot of the demo: $build/demo-screenshot.png"
