#!/usr/bin/env bash
# Long fuzzing on demand: runs every fuzz target at once for SECONDS, the
# machine's cores shared among them (libFuzzer's -fork when there are more
# cores than targets), each growing a corpus kept in the build folder
# (fuzz-corpus-long/<target>, seeded from make_fuzz_seeds the first time).
# Logs and findings of a run go to fuzz-long-runs/<time>/<target>. At the end
# it prints per target the executions, coverage, features, corpus size and
# findings; it exits 1 if any target found something. Not part of ctest.
set -euo pipefail

program=run-long.sh
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build="$(cd "$here/.." && pwd)/build"
targets=(fuzz_section_data fuzz_capture_reader fuzz_settings fuzz_sequence)
max_len=40000
unit_timeout=25 # seconds one input may take before it counts as a hang

usage() {
  cat <<EOF
usage: $program [--build DIR] SECONDS
Runs ${targets[*]} together for SECONDS seconds each, on all cores.
  --build DIR   the native build folder: the seed writer in fuzz-runs/, the
                fuzz sub-build's targets in fuzz/fuzz/ (default: $build)
  SECONDS       how long every target runs, 1 to 999999999
  -h, --help    print this help and exit
EOF
}

fail_usage() {
  echo "$program: $1 (try --help)" >&2
  exit 2
}

seconds=""
while [ $# -gt 0 ]; do
  case $1 in
  -h | --help)
    usage
    exit 0
    ;;
  --build)
    [ $# -ge 2 ] || fail_usage "--build needs a folder"
    build=$2
    shift 2
    ;;
  --build=*)
    build=${1#--build=}
    shift
    ;;
  -*) fail_usage "unknown option: $1" ;;
  *)
    [ -z "$seconds" ] || fail_usage "one SECONDS only, got also: $1"
    seconds=$1
    shift
    ;;
  esac
done
[ -n "$seconds" ] || fail_usage "SECONDS missing"
if ! [[ $seconds =~ ^[0-9]{1,9}$ ]] || [ "$((10#$seconds))" -lt 1 ]; then
  fail_usage "SECONDS must be a whole number from 1 to 999999999: $seconds"
fi
seconds=$((10#$seconds))
[ -d "$build" ] || fail_usage "no build folder: $build"
build=$(cd "$build" && pwd)
seed_tool="$build/fuzz-runs/make_fuzz_seeds"
fuzz_dir="$build/fuzz/fuzz"
[ -x "$seed_tool" ] || fail_usage "$seed_tool missing: build the target make_fuzz_seeds"
for target in "${targets[@]}"; do
  [ -x "$fuzz_dir/$target" ] || fail_usage "$fuzz_dir/$target missing: build the target fuzz_build"
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
jobs=$((cores / ${#targets[@]}))
[ "$jobs" -ge 1 ] || jobs=1
run_dir="$build/fuzz-long-runs/$(date -u +%Y%m%d-%H%M%S)"
mkdir -p "$run_dir"

pids=()
stop_children() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
}
trap 'stop_children; exit 130' INT TERM

echo "$program: ${#targets[@]} targets, ${seconds} s, $cores cores ($jobs job(s) per target)"
echo "$program: logs and findings in $run_dir"
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus-long/$target"
  if [ ! -d "$corpus" ] || [ -z "$(ls -A "$corpus")" ]; then
    mkdir -p "$corpus"
    "$seed_tool" "$(seed_kind "$target")" "$corpus"
  fi
  out="$run_dir/$target"
  mkdir -p "$out/findings"
  options=(-max_total_time="$seconds" -print_final_stats=1 -max_len="$max_len"
    -timeout="$unit_timeout" -artifact_prefix="$out/findings/")
  if [ "$jobs" -gt 1 ]; then # keep going after a finding: every one is kept
    options+=(-fork="$jobs" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  fi
  "$fuzz_dir/$target" "${options[@]}" "$corpus" >"$out/log" 2>&1 &
  pids+=($!)
done

statuses=()
for pid in "${pids[@]}"; do
  status=0
  wait "$pid" || status=$?
  statuses+=("$status")
done
trap - INT TERM

# The last value of `name: N` in a log's status lines.
last_value() {
  grep -Eo "$1: [0-9]+" "$2" | tail -n 1 | grep -Eo '[0-9]+$' || echo "?"
}

found=0
printf '%-20s %12s %8s %8s %8s %9s\n' target executions cov ft corpus findings
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  out="$run_dir/$target"
  executions=$(grep -Eo 'number_of_executed_units: [0-9]+' "$out/log" | tail -n 1 |
    grep -Eo '[0-9]+$' || true)
  if [ -z "$executions" ]; then # fork mode: the total stands in the last status line
    executions=$(grep -Eo '^#[0-9]+: cov' "$out/log" | tail -n 1 | grep -Eo '[0-9]+' || echo "?")
  fi
  corpus_size=$(find "$build/fuzz-corpus-long/$target" -type f | wc -l)
  findings=$(find "$out/findings" -type f | wc -l)
  printf '%-20s %12s %8s %8s %8s %9s\n' "$target" "$executions" "$(last_value cov "$out/log")" \
    "$(last_value ft "$out/log")" "$corpus_size" "$findings"
  if [ "$findings" -gt 0 ] || [ "${statuses[$i]}" -ne 0 ]; then
    found=1
    find "$out/findings" -type f -printf '  finding: %p\n'
    [ "${statuses[$i]}" -eq 0 ] || echo "  exit status ${statuses[$i]}, see $out/log"
  fi
done
exit "$found"
