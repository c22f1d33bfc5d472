#!/usr/bin/env bash
# Benchmark: the start of a launcher whose 20 carried archives (50 MB in all) are already extracted
# and unchanged, against the same launcher built without archives, both under Wine with the fake
# runtime, in the same run. Prints the minimum and median of each and their ratio.
#   bench/start_archives.sh [RUNS]      (default 10; needs the host and win64 builds and Wine)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS="${1:-10}"
. bench/timing.sh
tool=${CORVANE_BUILD_TOOL:-build/host/builder/corvane-build}
win64=${CORVANE_WIN64_DIR:-build/win64}
stub=$win64/resources/corvane.exe
runtime=$win64/tests/fixtures/fake_jvm/jvm.dll
[ -x "$tool" ] && [ -f "$stub" ] && [ -f "$runtime" ] || { echo "build first: scripts/build-all.sh" >&2; exit 1; }

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
unset DISPLAY
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
mkdir -p "$WINEPREFIX"
wineserver -p  # one server for every run, as on a running Windows
wineboot -i >/dev/null 2>&1

mkdir -p "$work/lib" "$work/app/jre/bin/server"
cp "$runtime" "$work/app/jre/bin/server/jvm.dll"
: > "$work/app/scenario-app.jar"  # the fake runtime only asks that it exists
for i in $(seq -w 1 20); do head -c 2621440 /dev/urandom > "$work/lib/part$i.jar"; done
settings='[settings]
JvmSearchOrder = "0"
JvmPath = "jre\\bin\\server\\jvm.dll"
ClassPath = "scenario-app.jar"
MainClass = "corvane.test.ScenarioApp"
TempDirMode = 1
StdOutMode = 0
StdErrMode = 0
SplashUntilWindow = false
AllowMultipleInstances = true'
printf '%s\n' "$settings" > "$work/plain.toml"
printf '%s\n[archives]\nfiles = ["lib/*.jar"]\n' "$settings" > "$work/carrying.toml"
"$tool" build "$work/plain.toml" --stub "$stub" -o "$work/app/plain.exe" >/dev/null
"$tool" build "$work/carrying.toml" --stub "$stub" -o "$work/app/carrying.exe" >/dev/null

cd "$work/app"
wine carrying.exe print:extract >/dev/null  # the first start writes the archives
[ "$(ls "$work"/app/*/part*.jar | wc -l)" -eq 20 ] || { echo "the archives were not extracted" >&2; exit 1; }
wine plain.exe print:warm >/dev/null

read -r carrying_min carrying_median < <(measure wine carrying.exe print:x | stats)
read -r plain_min plain_median < <(measure wine plain.exe print:x | stats)
echo "start under Wine with the fake runtime; 20 archives, 50 MiB, unchanged; $RUNS runs each"
printf '%-30s min %6d ms   median %6d ms\n' "with carried archives" "$carrying_min" "$carrying_median" \
  "without archives" "$plain_min" "$plain_median"
ratio "ratio (median with / median without)" "$carrying_median" "$plain_median"
