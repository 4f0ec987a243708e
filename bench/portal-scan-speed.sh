#!/usr/bin/env bash
# Times portal-scan on a large busy capture against a plain read of the same
# file. Writes the capture with make-busy-capture into the build folder (or
# reuses one of the right size), warms the page cache, then runs
# `cat FILE` and `portal-scan --json FILE` in turn, N times each, and prints
# the median times and their ratio; also `portal-scan --explain --json FILE`
# when portal-scan offers --explain. Builds nothing itself.
set -euo pipefail

readonly Name=portal-scan-speed
readonly Size_Default=512 # MiB
readonly Size_Max=65536
readonly Runs_Default=5
readonly Runs_Max=99
readonly Packet_Size=188
readonly Mib=1048576

Print_Usage() {
  printf '%s\n' \
    "usage: bench/$Name.sh [--size MIB] [--runs N] [--keep] [--build DIR]" \
    "Times portal-scan --json on a busy capture against cat of the same file (page cache warm)." \
    "The environment variables PORTAL_SCAN and MAKE_BUSY_CAPTURE name other binaries to use." \
    "  --size MIB          size of the capture in MiB, 1 to $Size_Max (default $Size_Default)" \
    "  --runs N            timed runs of each command, 1 to $Runs_Max (default $Runs_Default)" \
    "  --keep              keep the capture in the build folder for the next time" \
    "  --build DIR         build folder with bench/make-busy-capture and tools/portal-scan" \
    "                      (default build)"
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=../scripts/messages.sh
source "$here/../scripts/messages.sh"

# A whole number from 1 to $2, or nothing.
Whole_Number() {
  [[ $1 =~ ^[0-9]{1,6}$ ]] && ((10#$1 >= 1 && 10#$1 <= $2)) && echo $((10#$1))
}

Answer_Help_And_Version "$@"

size=$Size_Default
runs=$Runs_Default
keep=0
build="$Repo/build"
while (($# > 0)); do
  case $1 in
  --size | --runs | --build)
    (($# >= 2)) || Usage_Error "$1 needs a value"
    case $1 in
    --size) size=$(Whole_Number "$2" "$Size_Max") ||
      Usage_Error "--size: not a whole number of MiB from 1 to $Size_Max: '$2'" ;;
    --runs) runs=$(Whole_Number "$2" "$Runs_Max") ||
      Usage_Error "--runs: not a whole number from 1 to $Runs_Max: '$2'" ;;
    --build) [[ -n $2 ]] || Usage_Error "--build: empty folder name"; build=$2 ;;
    esac
    shift 2
    ;;
  --keep) keep=1; shift ;;
  -*) Usage_Error "unknown option '$1'" ;;
  *) Usage_Error "unexpected argument '$1'" ;;
  esac
done

[[ -d $build ]] || Fail "no build folder '$build' (configure with cmake first, or give --build DIR)"
make_capture=${MAKE_BUSY_CAPTURE:-$build/bench/make-busy-capture}
scan=${PORTAL_SCAN:-$build/tools/portal-scan}
[[ -x $make_capture ]] ||
  Fail "'$make_capture' missing: build it with 'cmake --build $build --target make-busy-capture'"
[[ -x $scan ]] || Fail "'$scan' missing: build it with 'cmake --build $build --target portal-scan'"

capture="$build/busy-capture-${size}MiB.ts"
expected_bytes=$(((size * Mib + Packet_Size - 1) / Packet_Size * Packet_Size))
errors=$(mktemp)
Clean_Up() {
  rm -f "$errors" "$errors.json" "$capture.part"
  if ((keep == 0)); then rm -f "$capture"; fi
}
trap Clean_Up EXIT
trap 'exit 130' INT TERM

if [[ -f $capture && $(stat -c %s "$capture") == "$expected_bytes" ]]; then
  echo "$Name: reusing $capture" >&2
else
  echo "$Name: writing $capture ($size MiB)" >&2
  "$make_capture" --size "$size" "$capture.part" >/dev/null 2>"$errors" ||
    Fail "make-busy-capture failed: $(head -n 3 "$errors")"
  [[ $(stat -c %s "$capture.part") == "$expected_bytes" ]] ||
    Fail "make-busy-capture wrote $(stat -c %s "$capture.part") bytes, not $expected_bytes"
  mv "$capture.part" "$capture"
fi

# Microseconds since the epoch (EPOCHREALTIME's decimal point may be a comma).
Now_Us() {
  if [[ -n ${EPOCHREALTIME:-} ]]; then
    local now=${EPOCHREALTIME//[!0-9]/}
    echo $((10#$now))
  else
    local now
    now=$(date +%s%N)
    echo $((now / 1000))
  fi
}

# Runs a command with stdout to /dev/null and stderr kept; prints its time in
# microseconds. Fails the whole run if the command fails.
Time_Us() {
  local start end
  start=$(Now_Us)
  "$@" >/dev/null 2>"$errors" || Fail "'$*' failed: $(head -n 3 "$errors")"
  end=$(Now_Us)
  echo $((end - start))
}

# The median of whole numbers, as a whole number (the mean of the middle two
# for an even count).
Median() {
  local sorted
  mapfile -t sorted < <(printf '%s\n' "$@" | sort -n)
  local n=${#sorted[@]}
  if ((n % 2)); then
    echo "${sorted[n / 2]}"
  else
    echo $(((sorted[n / 2 - 1] + sorted[n / 2]) / 2))
  fi
}

scan_help=$("$scan" --help 2>&1 || true)
explain=0
if [[ $scan_help == *--explain* ]]; then explain=1; fi

echo "$Name: warming the page cache" >&2
cat "$capture" >/dev/null
"$scan" --json "$capture" >"$errors.json" 2>"$errors" ||
  Fail "'$scan --json $capture' failed: $(head -n 3 "$errors")"
decoded=$(grep -o '"decoded": *true' "$errors.json" | wc -l)
((decoded == 4)) ||
  echo "$Name: warning: portal-scan decoded $decoded of the 4 portals in the capture" >&2

cat_times=() scan_times=() explain_times=()
for ((run = 1; run <= runs; ++run)); do
  echo "$Name: run $run of $runs" >&2
  cat_times+=("$(Time_Us cat "$capture")")
  scan_times+=("$(Time_Us "$scan" --json "$capture")")
  if ((explain)); then
    explain_times+=("$(Time_Us "$scan" --explain --json "$capture")")
  fi
done

cat_median=$(Median "${cat_times[@]}")
scan_median=$(Median "${scan_times[@]}")
rows=("cat FILE" "$cat_median" "portal-scan --json FILE" "$scan_median")
if ((explain)); then
  rows+=("portal-scan --explain --json FILE" "$(Median "${explain_times[@]}")")
fi

echo "$capture: $expected_bytes bytes, page cache warm, median of $runs runs each"
printf '%s\n' "${rows[@]}" | awk -v bytes="$expected_bytes" -v base="$cat_median" '
  NR % 2 == 1 { what = $0; next }
  {
    if (NR == 2) printf "  %-34s %10s %10s %9s\n", "command", "seconds", "MB/s", "x cat"
    us = $0 < 1 ? 1 : $0
    printf "  %-34s %10.3f %10.0f %9.1f\n", what, us / 1e6, bytes / us, us / (base < 1 ? 1 : base)
  }'
