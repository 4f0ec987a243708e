#!/usr/bin/env bash
# Times portal-scan on a large busy capture against a plain read of the same
# file and against its peer built on libdvbpsi. Writes the capture with
# make-busy-capture into the build folder (or reuses one of the right size),
# warms the page cache, checks that the peer (bench/dvbpsi-portal-scan) finds
# the entries portal-scan finds, then runs `cat FILE`, `portal-scan --json
# FILE`, `portal-scan --explain --json FILE` (when portal-scan offers
# --explain) and `dvbpsi-portal-scan FILE` in turn, N times each, and prints
# the median wall clock and CPU (user and system) times, their ratios to
# cat's and the CPU time's ratio to the peer's. Builds nothing but the peer:
# when it is missing, installs libdvbpsi-dev if that is missing too (as root,
# or through sudo) and builds the peer's target in the build folder.
set -euo pipefail

readonly Name=portal-scan-speed
readonly Size_Default=512 # MiB
readonly Size_Max=65536
readonly Runs_Default=5
readonly Runs_Max=99
readonly Packet_Size=188
readonly Mib=1048576
readonly Peer_Package=libdvbpsi-dev

Print_Usage() {
  printf '%s\n' \
    "usage: bench/$Name.sh [--size MIB] [--runs N] [--keep] [--build DIR]" \
    "Times portal-scan --json on a busy capture against cat of the same file (page cache warm)" \
    "and against dvbpsi-portal-scan, the same search through libdvbpsi: the median wall clock" \
    "and CPU time of each, their ratios to cat's and the CPU time's ratio to the peer's." \
    "Installs $Peer_Package and builds the peer's target when the peer is missing." \
    "The environment variables PORTAL_SCAN, MAKE_BUSY_CAPTURE and DVBPSI_PORTAL_SCAN name" \
    "other binaries to use." \
    "  --size MIB          size of the capture in MiB, 1 to $Size_Max (default $Size_Default)" \
    "  --runs N            timed runs of each command, 1 to $Runs_Max (default $Runs_Default)" \
    "  --keep              keep the capture in the build folder for the next time" \
    "  --build DIR         build folder with tools/portal-scan, bench/make-busy-capture and" \
    "                      bench/dvbpsi-portal-scan (default build)"
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
  rm -f "$errors" "$errors.json" "$errors.text" "$errors.peer" "$capture.part"
  if ((keep == 0)); then rm -f "$capture"; fi
}
trap Clean_Up EXIT
trap 'exit 130' INT TERM

# The peer: libdvbpsi is installed for the benchmark only, here.
peer=${DVBPSI_PORTAL_SCAN:-$build/bench/dvbpsi-portal-scan}
if [[ -n ${DVBPSI_PORTAL_SCAN:-} && ! -x $peer ]]; then
  Fail "'$peer' (DVBPSI_PORTAL_SCAN) missing"
elif [[ ! -x $peer ]]; then
  if [[ $(dpkg-query -W -f='${Status}' "$Peer_Package" 2>/dev/null) != "install ok installed" ]]; then
    as_root=()
    [[ $(id -u) == 0 ]] || as_root=(sudo)
    echo "$Name: installing $Peer_Package for the peer" >&2
    "${as_root[@]}" apt-get install -y --no-install-recommends "$Peer_Package" >"$errors" 2>&1 ||
      Fail "$Peer_Package is missing and could not be installed (as root: apt-get install $Peer_Package)"
  fi
  echo "$Name: building $peer" >&2
  if ! { cmake "$build" && cmake --build "$build" --target dvbpsi-portal-scan; } >"$errors" 2>&1 ||
    [[ ! -x $peer ]]; then
    Fail "could not build '$peer': $(tail -n 1 "$errors")"
  fi
fi

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

# Runs a command with stdout to /dev/null and stderr kept; prints its wall
# clock and CPU (user and system) time in microseconds. Fails the whole run
# if the command fails.
Time_Us() {
  local timing wall cpu_user cpu_system
  timing=$({ TIMEFORMAT='%3R %3U %3S' && time "$@" >/dev/null 2>"$errors"; } 2>&1) ||
    Fail "'$*' failed: $(head -n 3 "$errors")"
  read -r wall cpu_user cpu_system <<<"${timing//,/.}"
  echo "$(Us "$wall") $(($(Us "$cpu_user") + $(Us "$cpu_system")))"
}

# Seconds with three decimals ("1.234") as microseconds.
Us() {
  local whole=${1%.*} fraction=${1#*.}
  echo $((10#$whole * 1000000 + 10#$fraction * 1000))
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
# The entries each finds, as "PORTAL: ROW" (portal-scan's defaults left out).
Entry_Rows() {
  awk '/^Portal /{ portal = $2 } /^ +[0-9]+  / && !/\(default\)$/ { print portal ": " $0 }' "$1"
}
"$scan" "$capture" >"$errors.text" 2>"$errors" ||
  Fail "'$scan $capture' failed: $(head -n 3 "$errors")"
"$peer" "$capture" >"$errors.peer" 2>"$errors" ||
  Fail "'$peer $capture' failed: $(head -n 3 "$errors")"
entries=$(Entry_Rows "$errors.text" | wc -l)
if [[ $(Entry_Rows "$errors.text") == "$(Entry_Rows "$errors.peer")" ]]; then
  agreement="portal-scan and dvbpsi-portal-scan find the same $entries entries"
else
  agreement="the entries differ: portal-scan finds $entries, dvbpsi-portal-scan $(
    Entry_Rows "$errors.peer" | wc -l) (others or elsewhere)"
  echo "$Name: warning: $agreement" >&2
fi

commands=("cat" "portal-scan --json" "portal-scan --explain --json" "dvbpsi-portal-scan")
((explain)) || commands=("${commands[@]:0:2}" "${commands[3]}")
declare -A walls cpus
for ((run = 1; run <= runs; ++run)); do
  echo "$Name: run $run of $runs" >&2
  for command in "${commands[@]}"; do
    case $command in
    cat) timing=$(Time_Us cat "$capture") ;;
    "portal-scan --json") timing=$(Time_Us "$scan" --json "$capture") ;;
    "portal-scan --explain --json") timing=$(Time_Us "$scan" --explain --json "$capture") ;;
    *) timing=$(Time_Us "$peer" "$capture") ;;
    esac
    walls[$command]+="${timing% *} "
    cpus[$command]+="${timing#* } "
  done
done

echo "$capture: $expected_bytes bytes, page cache warm, median of $runs runs each"
echo "  $agreement"
printf '  %-34s %9s %9s %9s %7s %7s %9s\n' command "wall s" "CPU s" "MB/s" "x cat" "CPU x" "CPU/peer"
# shellcheck disable=SC2086 # the lists are whole numbers split at spaces
peer_cpu=$(Median ${cpus[dvbpsi-portal-scan]})
((peer_cpu > 0)) || peer_cpu=1
cat_wall=1 cat_cpu=1
for command in "${commands[@]}"; do
  # shellcheck disable=SC2086
  wall=$(Median ${walls[$command]}) cpu=$(Median ${cpus[$command]})
  ((wall > 0)) || wall=1
  ((cpu > 0)) || cpu=1
  if [[ $command == cat ]]; then cat_wall=$wall cat_cpu=$cpu; fi
  awk -v what="$command FILE" -v wall="$wall" -v cpu="$cpu" -v bytes="$expected_bytes" \
    -v base="$cat_wall" -v cpu_base="$cat_cpu" -v peer="$peer_cpu" 'BEGIN {
      printf "  %-34s %9.3f %9.3f %9.0f %7.2f %7.2f %9.2f\n", what, wall / 1e6, cpu / 1e6,
        bytes / wall, wall / base, cpu / cpu_base, cpu / peer }'
done
