#!/usr/bin/env bash
# Benchmark: corvane-build writing a launcher that carries 100 MB of archives, against copying the
# same bytes with cp, in the same run. Prints the minimum and median of each and their ratio.
#   bench/build_archives.sh [RUNS]      (default 10; needs the host and win64 builds)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS="${1:-10}"
. bench/timing.sh
tool=${CORVANE_BUILD_TOOL:-build/host/builder/corvane-build}
stub=${CORVANE_STUB:-build/win64/resources/corvane.exe}
[ -x "$tool" ] && [ -f "$stub" ] || { echo "build first: scripts/build-all.sh" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lib" "$work/copy"
for i in $(seq 1 10); do head -c 10485760 /dev/urandom > "$work/lib/part$i.jar"; done
printf '[archives]\nfiles = ["lib/*.jar"]\n' > "$work/project.toml"

read -r build_min build_median < <(measure "$tool" build "$work/project.toml" --stub "$stub" -o "$work/App.exe" | stats)
read -r copy_min copy_median < <(measure cp "$work"/lib/*.jar "$work/copy/" | stats)
size=$(stat -c %s "$work/App.exe")
echo "launcher with 100 MiB of archives: $size bytes; $RUNS runs each"
printf '%-28s min %8.2f ms   median %8.2f ms\n' "corvane-build build" "$build_min" "$build_median" "cp of the same bytes" "$copy_min" "$copy_median"
ratio "ratio (median build / median cp)" "$build_median" "$copy_median"
