#!/usr/bin/env bash
# Runs one libFuzzer target for a fixed time on a fresh corpus seeded from
# the stream writer (see --help); any crash, sanitizer report or leak fails
# the test. The corpus folder is emptied first, so every argument is checked
# before anything is removed, and only a folder this script made is removed.
set -euo pipefail

readonly Name=run-fuzzer

Print_Usage() {
  printf '%s\n' \
    "usage: fuzz/$Name.sh FUZZER SECONDS CORPUS SEED_TOOL SEED_KIND" \
    "Runs the libFuzzer target FUZZER for SECONDS on a fresh corpus in the folder CORPUS," \
    "seeded with 'SEED_TOOL SEED_KIND CORPUS'; findings go to CORPUS.artifacts/." \
    "  CORPUS              made anew: absent, or a corpus an earlier run made (beside" \
    "                      CORPUS.artifacts)"
}

here=${BASH_SOURCE[0]%/*}; [[ $here != "${BASH_SOURCE[0]}" ]] || here=.
# shellcheck source=../scripts/messages.sh
source "$here/../scripts/messages.sh"
Answer_Help_And_Version "$@"

(($# == 5)) || Usage_Error "needs FUZZER SECONDS CORPUS SEED_TOOL SEED_KIND, got $# arguments"
fuzzer=$1 seconds=$2 corpus=$3 seed_tool=$4 kind=$5
artifacts=$corpus.artifacts
[[ -x $fuzzer && -f $fuzzer ]] || Usage_Error "no fuzz target '$fuzzer'"
[[ $seconds =~ ^[1-9][0-9]{0,8}$ ]] || Usage_Error "SECONDS must be a whole number from 1: '$seconds'"
[[ -x $seed_tool && -f $seed_tool ]] || Usage_Error "no seed writer '$seed_tool'"
[[ -n $kind ]] || Usage_Error "empty SEED_KIND"
[[ -n $corpus && $corpus != */ ]] || Usage_Error "CORPUS must name a folder: '$corpus'"
if [[ -e $corpus && ! -d $artifacts ]]; then
  Usage_Error "'$corpus' exists but no earlier run made it (no $artifacts beside it)"
fi

rm -rf "$corpus"
mkdir -p "$artifacts" "$corpus"
"$seed_tool" "$kind" "$corpus"
exec "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -max_len=40000 \
  -artifact_prefix="$artifacts/" "$corpus"
