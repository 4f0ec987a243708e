#!/usr/bin/env bash
# Runs one libFuzzer target for a fixed time on a fresh corpus seeded from
# the stream writer; any crash, sanitizer report or leak fails the test.
# usage: run-fuzzer.sh FUZZER SECONDS CORPUS_DIR SEED_TOOL SEED_KIND
set -euo pipefail
fuzzer=$1 seconds=$2 corpus=$3 seed_tool=$4 kind=$5
rm -rf "$corpus" && mkdir -p "$corpus"
"$seed_tool" "$kind" "$corpus"
artifacts="$corpus.artifacts"
mkdir -p "$artifacts"
exec "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -max_len=40000 \
  -artifact_prefix="$artifacts/" "$corpus"
