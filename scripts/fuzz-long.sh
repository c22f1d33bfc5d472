#!/usr/bin/env bash
# Long fuzz runs, not part of CI: runs every fuzz target (or the ones named) in turn, one process at
# a time, for EXECUTIONS executions each (default 10,000,000) or FUZZ_MAX_SECONDS (default 3600),
# whichever comes first, and prints a table of executions, time and result per target.
#
#   scripts/fuzz-long.sh [EXECUTIONS] [TARGET...]
#
# FUZZ_BUILD_DIR (default build/fuzz) is the fuzz build, configured and built here with the "fuzz"
# preset when it is the default. New corpus entries and crash inputs go to FUZZ_WORK_DIR (default
# build/fuzz-long/<target>), never into fuzz/corpus; a later run goes on from them. Exits non-zero
# when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
executions=${1:-10000000}
[ $# -gt 0 ] && shift
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
work=${FUZZ_WORK_DIR:-$root/build/fuzz-long}
seconds=${FUZZ_MAX_SECONDS:-3600}

if [ -z "${FUZZ_BUILD_DIR:-}" ]; then
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
fi
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/targets/*.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi

mkdir -p "$work"
summary=$work/summary.txt
printf '%-20s %12s %9s  %s\n' target executions seconds result | tee "$summary"
status=0
for t in "${targets[@]}"; do
  dir=$work/$t
  mkdir -p "$dir/corpus"
  args=(-runs="$executions" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560
        -artifact_prefix="$dir/" -print_final_stats=1)
  [ -f "fuzz/dict/$t.dict" ] && args+=(-dict="fuzz/dict/$t.dict")
  seeds=("$root/fuzz/corpus/$t")
  [ -d "$build/fuzz/seeds/$t" ] && seeds+=("$build/fuzz/seeds/$t")
  start=$(date +%s)
  result=ok
  nice -n 10 "$build/fuzz/fuzz-$t" "${args[@]}" "$dir/corpus" "${seeds[@]}" >"$dir/log.txt" 2>&1 || result=FOUND
  elapsed=$(( $(date +%s) - start ))
  done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -1)
  if [ "$result" != ok ]; then
    status=1
    result="FOUND: $(ls -t "$dir" | grep -E '^(crash|leak|timeout|oom)-' | head -1) (see $dir/log.txt)"
  fi
  printf '%-20s %12s %9s  %s\n' "$t" "${done_runs:-?}" "$elapsed" "$result" | tee -a "$summary"
done
exit $status
