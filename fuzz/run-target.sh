#!/usr/bin/env bash
# Runs one fuzz target: run-target.sh FUZZER SCRATCH_DIR DICT|"" [LIBFUZZER_FLAGS...] [CORPUS_DIRS...]
# libFuzzer writes the inputs it finds into its first corpus folder; that is SCRATCH_DIR, emptied
# first, so that the seed folders after it are only read. Seed folders that do not exist are left
# out. A crash input is written into SCRATCH_DIR too; the status is libFuzzer's.
set -euo pipefail
fuzzer=$1 scratch=$2 dict=$3
shift 3
rm -rf "$scratch"
mkdir -p "$scratch"
seeds=()
args=(-artifact_prefix="$scratch/" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1)
[ -n "$dict" ] && args+=(-dict="$dict")
for a in "$@"; do
  if [[ $a == -* ]]; then
    args+=("$a")
  elif [ -d "$a" ]; then
    seeds+=("$a")
  fi
done
exec "$fuzzer" "${args[@]}" "$scratch" "${seeds[@]}"
