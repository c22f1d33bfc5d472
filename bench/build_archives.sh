#!/usr/bin/env bash
# Benchmark: corvane-build writing a launcher that carries 100 MB of archives, against copying the
# same bytes with cp, in the same run. Prints the minimum and median of each and their ratio.
#   bench/build_archives.sh [RUNS]      (default 10; needs the host and win64 builds)
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-10}"
tool=${CORVANE_BUILD_TOOL:-build/host/builder/corvane-build}
stub=${CORVANE_STUB:-build/win64/resources/corvane.exe}
[ -x "$tool" ] && [ -f "$stub" ] || { echo "build first: scripts/build-all.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lib" "$work/copy"
for i in $(seq 1 10); do head -c 10485760 /dev/urandom > "$work/lib/part$i.jar"; done
printf '[archives]\nfiles = ["lib/*.jar"]\n' > "$work/project.toml"

now() { date +%s%N; }
# Milliseconds of each run of a command, one per line.
measure() {
  for _ in $(seq 1 "$runs"); do
    local start end
    start=$(now); "$@" >/dev/null; end=$(now)
    echo $(( (end - start) / 1000000 ))
  done
}
stats() { sort -n | awk '{ v[NR] = $1 } END { printf "%d %d\n", v[1], (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

read -r build_min build_median < <(measure "$tool" build "$work/project.toml" --stub "$stub" -o "$work/App.exe" | stats)
read -r copy_min copy_median < <(measure cp "$work"/lib/*.jar "$work/copy/" | stats)
size=$(stat -c %s "$work/App.exe")
echo "launcher with 100 MiB of archives: $size bytes; $runs runs each"
printf '%-28s min %6d ms   median %6d ms\n' "corvane-build build" "$build_min" "$build_median" "cp of the same bytes" "$copy_min" "$copy_median"
awk -v a="$build_median" -v b="$copy_median" 'BEGIN { printf "ratio (median build / median cp): %.2f\n", (b > 0 ? a / b : 0) }'
