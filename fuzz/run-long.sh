#!/usr/bin/env bash
# Long fuzzing on demand: runs every fuzz target at once for SECONDS, the
# machine's cores shared among them (libFuzzer's -fork when there are more
# cores than targets), each growing a corpus kept in the build folder
# (fuzz-corpus-long/<target>, seeded from make_fuzz_seeds the first time).
# Logs and findings of a run go to fuzz-long-runs/<time>/<target>. At the end
# it prints per target the executions, coverage, features, corpus size and
# findings, also when Ctrl+C ends the run early; it exits 1 if any target
# found something, 130 after Ctrl+C otherwise. Not part of ctest.
set -euo pipefail

readonly Name=run-long
readonly Targets=(fuzz_section_data fuzz_capture_reader fuzz_settings fuzz_sequence)
readonly Max_Len=40000
readonly Unit_Timeout=25 # seconds one input may take before it counts as a hang
readonly Seconds_Max=999999999

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=../scripts/messages.sh
source "$here/../scripts/messages.sh"
build=$Repo/build

Print_Usage() {
  printf '%s\n' \
    "usage: fuzz/$Name.sh [--build DIR] SECONDS" \
    "Runs ${Targets[*]} together for SECONDS seconds each, on all cores." \
    "  --build DIR         the native build folder: the seed writer in fuzz-runs/, the" \
    "                      fuzz sub-build's targets in fuzz/fuzz/ (default: $build)" \
    "  SECONDS             how long every target runs, 1 to $Seconds_Max"
}
Answer_Help_And_Version "$@"

seconds=""
while (($# > 0)); do
  case $1 in
  --build)
    (($# >= 2)) || Usage_Error "--build needs a folder"
    build=$2
    shift 2
    ;;
  --build=*)
    build=${1#--build=}
    shift
    ;;
  -*) Usage_Error "unknown option '$1'" ;;
  *)
    [[ -z $seconds ]] || Usage_Error "one SECONDS only, got also '$1'"
    seconds=$1
    shift
    ;;
  esac
done
[[ -n $seconds ]] || Usage_Error "SECONDS missing"
if ! [[ $seconds =~ ^[0-9]{1,9}$ ]] || ((10#$seconds < 1)); then
  Usage_Error "SECONDS must be a whole number from 1 to $Seconds_Max: '$seconds'"
fi
seconds=$((10#$seconds))
[[ -d $build ]] || Usage_Error "no build folder '$build'"
build=$(cd "$build" && pwd)
seed_tool="$build/fuzz-runs/make_fuzz_seeds"
fuzz_dir="$build/fuzz/fuzz"
[[ -x $seed_tool ]] || Fail "$seed_tool missing: build the target make_fuzz_seeds"
for target in "${Targets[@]}"; do
  [[ -x $fuzz_dir/$target ]] || Fail "$fuzz_dir/$target missing: build the target fuzz_build"
done

seed_kind() {
  case $1 in
  fuzz_section_data) echo section_data ;;
  fuzz_capture_reader) echo capture ;;
  fuzz_settings) echo settings ;;
  fuzz_sequence) echo sequence ;;
  esac
}

cores=$(nproc)
jobs=$((cores / ${#Targets[@]}))
((jobs >= 1)) || jobs=1
run_dir="$build/fuzz-long-runs/$(date -u +%Y%m%d-%H%M%S)"
mkdir -p "$run_dir"

# Ctrl+C reaches the targets too (they share the terminal's process group);
# each prints its final stats and exits with libFuzzer's status for that,
# which is no finding. The script waits for them and prints the summary all
# the same, then exits 130 as an interrupted program does.
readonly Fuzzer_Interrupted_Status=72
readonly Interrupted_Status=130
interrupted=0
pids=()
Stop_Targets() {
  interrupted=1
  for pid in "${pids[@]}"; do
    kill -INT "$pid" 2>/dev/null || true
  done
}
trap Stop_Targets INT TERM

echo "$Name: ${#Targets[@]} targets, ${seconds} s, $cores cores ($jobs job(s) per target)"
echo "$Name: logs and findings in $run_dir"
for target in "${Targets[@]}"; do
  corpus="$build/fuzz-corpus-long/$target"
  if [[ ! -d $corpus || -z $(ls -A "$corpus") ]]; then
    mkdir -p "$corpus"
    "$seed_tool" "$(seed_kind "$target")" "$corpus"
  fi
  out="$run_dir/$target"
  mkdir -p "$out/findings"
  options=(-max_total_time="$seconds" -print_final_stats=1 -max_len="$Max_Len"
    -timeout="$Unit_Timeout" -artifact_prefix="$out/findings/")
  if ((jobs > 1)); then # keep going after a finding: every one is kept
    options+=(-fork="$jobs" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  fi
  "$fuzz_dir/$target" "${options[@]}" "$corpus" >"$out/log" 2>&1 &
  pids+=($!)
done

statuses=()
for pid in "${pids[@]}"; do
  while :; do
    status=0
    wait "$pid" || status=$?
    # A signal caught while waiting ends the wait early; the target may
    # still be writing its final stats.
    kill -0 "$pid" 2>/dev/null || break
  done
  statuses+=("$status")
done
trap - INT TERM

# The last value of `name: N` in a log's status lines.
last_value() {
  grep -Eo "$1: [0-9]+" "$2" | tail -n 1 | grep -Eo '[0-9]+$' || echo "?"
}

found=0
((interrupted == 0)) || echo "$Name: interrupted; the targets' figures so far:"
printf '%-20s %12s %8s %8s %8s %9s\n' target executions cov ft corpus findings
for i in "${!Targets[@]}"; do
  target=${Targets[$i]}
  status=${statuses[$i]}
  ((interrupted == 0 || status != Fuzzer_Interrupted_Status)) || status=0
  out="$run_dir/$target"
  executions=$(grep -Eo 'number_of_executed_units: [0-9]+' "$out/log" | tail -n 1 |
    grep -Eo '[0-9]+$' || true)
  if [[ -z $executions ]]; then # fork mode: the total stands in the last status line
    executions=$(grep -Eo '^#[0-9]+: cov' "$out/log" | tail -n 1 | grep -Eo '[0-9]+' || echo "?")
  fi
  corpus_size=$(find "$build/fuzz-corpus-long/$target" -type f | wc -l)
  findings=$(find "$out/findings" -type f | wc -l)
  printf '%-20s %12s %8s %8s %8s %9s\n' "$target" "$executions" "$(last_value cov "$out/log")" \
    "$(last_value ft "$out/log")" "$corpus_size" "$findings"
  if ((findings > 0 || status != 0)); then
    found=1
    find "$out/findings" -type f -printf '  finding: %p\n'
    ((status == 0)) || echo "  exit status $status, see $out/log"
  fi
done
((found == 0)) || exit 1
((interrupted == 0)) || exit "$Interrupted_Status"
