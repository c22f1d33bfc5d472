#!/usr/bin/env bash
# Benchmark: the start of a Java application as its user feels it, under Wine with the fake runtime.
# For the launcher in several configurations and for a minimal host (bench/min_host.cpp) that only
# loads the same jvm.dll by path, creates the VM with the same options, calls the same main and
# destroys the VM, three points are taken, each in milliseconds after the process's creation: the
# call of JNI_CreateJavaVM and the first instruction of main (both recorded by the fake runtime),
# and the end of the process (recorded by bench/process_end.cpp, which starts each run). The
# programs take turns, run by run, so that a change of the machine's load hits all of them alike.
# Prints the minimum and median of each point and the ratios of the medians to the host's, then the
# whole start of the launcher with 20 unchanged carried archives against the same launcher without
# them, and the stub's size against its goal.
#   bench/startup.sh [RUNS]      (default 10; needs the host and win64 builds, Wine and Xvfb)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS="${1:-10}"
. bench/timing.sh
tool=${CORVANE_BUILD_TOOL:-build/host/builder/corvane-build}
win64=${CORVANE_WIN64_DIR:-build/win64}
stub=${CORVANE_STUB:-$win64/resources/corvane.exe}
host=$win64/bench/cvminhost.exe
runner=$win64/bench/cvprocessend.exe
runtime=$win64/tests/fixtures/fake_jvm/jvm.dll
jar=${CORVANE_SCENARIO_JAR:-build/host/tests/fixtures/scenario_app/scenario-app.jar}
for file in "$tool" "$stub" "$host" "$runner" "$runtime" "$jar"; do
  [ -f "$file" ] || { echo "missing $file: build first (scripts/build-all.sh)" >&2; exit 1; }
done
tool=$(realpath "$tool") stub=$(realpath "$stub") host=$(realpath "$host") runner=$(realpath "$runner") runtime=$(realpath "$runtime") jar=$(realpath "$jar")

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb <&3
read -r display <&3
export DISPLAY=":$display"
trap 'wineserver -k >/dev/null 2>&1 || true; kill "$xvfb" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$WINEPREFIX"
wineserver -p  # one server for every run, as on a running Windows
wineboot -i >/dev/null 2>&1

app=$work/app
mkdir -p "$app/jre/bin/server" "$work/lib"
cp "$runtime" "$app/jre/bin/server/jvm.dll"
cp "$host" "$app/host.exe"
cp "$runner" "$app/runner.exe"
cp "$jar" "$app/scenario-app.jar"  # the fake runtime, like a real one, runs the class it finds there
for i in $(seq -w 1 20); do head -c 2621440 /dev/urandom > "$work/lib/part$i.jar"; done
winpath() { echo "Z:${1//\//\\}"; }

# The launcher's own work with nothing optional: the runtime beside it, no splash, no logs.
plain='[settings]
JvmSearchOrder = "0"
JvmPath = "jre\\bin\\server\\jvm.dll"
ClassPath = "scenario-app.jar"
MainClass = "corvane.test.ScenarioApp"
StdOutMode = 0
StdErrMode = 0
SplashUntilWindow = false
AllowMultipleInstances = true'
printf '%s\n' "$plain" > "$work/plain.toml"
# The stub's own settings (splash until a window shows, log files, search order 012345, one
# instance) with only the application changed.
printf '[settings]\nClassPath = "scenario-app.jar"\nMainClass = "corvane.test.ScenarioApp"\n' > "$work/default.toml"
printf '%s\nIniFile = "%%APPNAME%%.ini"\n' "$plain" > "$work/ini.toml"
printf '[Application Configuration]\nJvmOptions=-Dbench.ini=1 -Xss1m\nJvmOptionsAppend=-Dbench.more=%%APPDIR%%\nAppOptions=print:ini\nStdOutFileAppend=0\n' > "$app/ini.ini"
printf '%s\n' "${plain/JvmSearchOrder = \"0\"/JvmSearchOrder = \"1\"}" 'JvmVersion = ">=17"' > "$work/registry.toml"
printf '%s\nTempDirMode = 1\n[archives]\nfiles = ["lib/*.jar"]\n' "$plain" > "$work/archives.toml"
for name in plain default ini registry archives; do
  "$tool" build "$work/$name.toml" --stub "$stub" -o "$app/$name.exe" >/dev/null
done

# 49 versions that fail the rule, then the one that passes, last in the registry's order.
{
  printf 'Windows Registry Editor Version 5.00\n\n'
  for i in $(seq 1 49); do printf '[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JRE\\1.%d.0]\n"JavaHome"="C:\\\\nowhere"\n\n' "$i"; done
  printf '[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JRE\\17.0.50]\n"RuntimeLib"="%s"\n' "$(winpath "$app/jre/bin/server/jvm.dll" | sed 's/\\/\\\\/g')"
} > "$work/runtimes.reg"
wine regedit /S "$(winpath "$work/runtimes.reg")" >/dev/null 2>&1

cd "$app"
wine archives.exe >/dev/null 2>&1  # the first start writes the archives; the runs find them unchanged

# One run of each program in turn, RUNS times after a first round that is not counted (so that every
# program starts warm); each program's points go to $work/points.NAME as "POINT TICKS" lines.
programs=(host plain default ini registry archives)
run_program() {
  local file=$1 name=$2
  if [ "$name" = host ]; then
    set -- host.exe "$(winpath "$app/jre/bin/server/jvm.dll")" corvane/test/ScenarioApp -Djava.class.path=scenario-app.jar
  else
    set -- "$name.exe"
  fi
  CORVANE_FAKE_TIMING_FILE=$(winpath "$file") wine runner.exe "$(winpath "$file")" "$@" >/dev/null 2>&1 || true
}
for name in "${programs[@]}"; do run_program "$work/warm-up" "$name"; done
for _ in $(seq 1 "$RUNS"); do
  for name in "${programs[@]}"; do run_program "$work/points.$name" "$name"; done
done

# "MIN MEDIAN" in milliseconds of one point of one program.
point_stats() {
  local lines
  lines=$(awk -v p="$2" '$1 == p { printf "%.2f\n", $2 / 10000 }' "$work/points.$1")
  [ "$(printf '%s\n' "$lines" | grep -c .)" -eq "$RUNS" ] || { echo "not every run of $1 reached $2" >&2; exit 1; }
  printf '%s\n' "$lines" | stats
}

echo "milliseconds from process creation under Wine, fake runtime, $RUNS runs each: median (minimum), ratio of medians to the host's"
printf '%-46s %-24s %-24s %-24s\n' "" "JNI_CreateJavaVM" "main" "end of process"
declare -A host_median
for point in create main end; do read -r _ host_median[$point] < <(point_stats host "$point"); done
for entry in "host:minimal host" "plain:launcher, runtime beside it" "default:launcher, the stub's default settings" \
  "ini:launcher with an INI file" "registry:launcher, registry search over 50 subkeys" \
  "archives:launcher with 20 unchanged archives (50 MB)"; do
  name=${entry%%:*}
  printf '%-46s' "${entry#*:}"
  for point in create main end; do
    read -r min median < <(point_stats "$name" "$point")
    printf ' %7.1f (%6.1f) %-6s' "$median" "$min" \
      "$(awk -v a="$median" -v b="${host_median[$point]}" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')"
  done
  printf '\n'
done
echo "whole start, process start to end (wall clock), of the same launcher with and without its archives"
read -r with_min with_median < <(measure wine archives.exe | stats)
read -r without_min without_median < <(measure wine plain.exe | stats)
printf '%-44s min %8.2f ms   median %8.2f ms\n' "with 20 unchanged archives (50 MB)" "$with_min" "$with_median" \
  "without archives" "$without_min" "$without_median"
ratio "ratio (median with / median without)" "$with_median" "$without_median"
size=$(stat -c %s "$stub")
printf 'stub size: %d bytes, goal 153600 (150 KB): %.2f of the goal\n' "$size" "$(awk -v s="$size" 'BEGIN { print s / 153600 }')"
