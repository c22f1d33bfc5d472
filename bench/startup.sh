#!/usr/bin/env bash
# Benchmark: the launcher's own start-up work under Wine with the fake runtime. The fake jvm.dll
# records how long after its creation the process called JNI_CreateJavaVM; the same is measured
# for a minimal host (bench/min_host.cpp) that only loads the same jvm.dll by path and creates
# the VM with the same options. Prints the minimum and median of each configuration and their
# ratios to the host's (the minimums are the steadier figure on a busy machine), then the stub's
# size against its goal, and the whole start of the launcher with 20 unchanged carried archives
# against the same launcher without them.
#   bench/startup.sh [RUNS]      (default 10; needs the host and win64 builds, Wine and Xvfb)
set -euo pipefail
cd "$(dirname "$0")/.."
RUNS="${1:-10}"
. bench/timing.sh
tool=${CORVANE_BUILD_TOOL:-build/host/builder/corvane-build}
win64=${CORVANE_WIN64_DIR:-build/win64}
stub=$win64/resources/corvane.exe
host=$win64/bench/cvminhost.exe
runtime=$win64/tests/fixtures/fake_jvm/jvm.dll
jar=${CORVANE_SCENARIO_JAR:-build/host/tests/fixtures/scenario_app/scenario-app.jar}
for file in "$tool" "$stub" "$host" "$runtime" "$jar"; do
  [ -f "$file" ] || { echo "missing $file: build first (scripts/build-all.sh)" >&2; exit 1; }
done
tool=$(realpath "$tool") stub=$(realpath "$stub") host=$(realpath "$host") runtime=$(realpath "$runtime") jar=$(realpath "$jar")

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

# Milliseconds from process creation to JNI_CreateJavaVM, one line per run.
create_times() {
  local times=$work/times
  rm -f "$times"
  wine "$@" >/dev/null 2>&1 || true  # a first run, not counted, so every program starts warm
  for _ in $(seq 1 "$RUNS"); do CORVANE_FAKE_TIMING_FILE=$(winpath "$times") wine "$@" >/dev/null 2>&1 || true; done
  [ "$(wc -l < "$times")" -eq "$RUNS" ] || { echo "not every run of $* created the VM" >&2; exit 1; }
  awk '{ printf "%.2f\n", $1 / 10000 }' "$times"
}

echo "time from process creation to JNI_CreateJavaVM under Wine, fake runtime; $RUNS runs each"
read -r host_min host_median < <(create_times host.exe "$(winpath "$app/jre/bin/server/jvm.dll")" -Djava.class.path=scenario-app.jar | stats)
printf '%-44s min %8.2f ms   median %8.2f ms\n' "minimal host" "$host_min" "$host_median"
for entry in "plain:launcher, runtime beside it" "default:launcher, the stub's default settings" \
  "ini:launcher with an INI file" "registry:launcher, registry search over 50 subkeys" \
  "archives:launcher with 20 unchanged archives (50 MB)"; do
  name=${entry%%:*}
  read -r min median < <(create_times "$name.exe" | stats)
  printf '%-44s min %8.2f ms   median %8.2f ms   ratio %.2f (of minimums %.2f)\n' "${entry#*:}" "$min" "$median" \
    "$(awk -v a="$median" -v b="$host_median" 'BEGIN { print (b > 0 ? a / b : 0) }')" \
    "$(awk -v a="$min" -v b="$host_min" 'BEGIN { print (b > 0 ? a / b : 0) }')"
done
echo "whole start, process start to end (wall clock), of the same launcher with and without its archives"
read -r with_min with_median < <(measure wine archives.exe | stats)
read -r without_min without_median < <(measure wine plain.exe | stats)
printf '%-44s min %8.2f ms   median %8.2f ms\n' "with 20 unchanged archives (50 MB)" "$with_min" "$with_median" \
  "without archives" "$without_min" "$without_median"
ratio "ratio (median with / median without)" "$with_median" "$without_median"
size=$(stat -c %s "$stub")
printf 'stub size: %d bytes, goal 153600 (150 KB): %.2f of the goal\n' "$size" "$(awk -v s="$size" 'BEGIN { print s / 153600 }')"
