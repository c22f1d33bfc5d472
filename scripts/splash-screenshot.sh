#!/usr/bin/env bash
# Writes docs/lumera-splash.png: the Lumera sample's splash (its picture and text) as the launcher
# shows it, taken under Wine and Xvfb. The runtime is the fake jvm.dll of the tests, running the
# scenario application's "sleep" so that the splash stays up. Needs both builds (scripts/build-all.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
host="${CORVANE_HOST_BUILD:-$root/build/host}" win="${CORVANE_WIN64_BUILD:-$root/build/win64}"
work="$(mktemp -d)"
trap 'kill "${xvfb:-0}" 2>/dev/null || true; WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

sed -e 's/^MainClass = .*/MainClass = "corvane.test.ScenarioApp"/' \
    -e 's/^ClassPath = .*/ClassPath = "scenario-app.jar"\nJvmSearchOrder = "0"\nAppOptions = "sleep:8000"\nStdOutMode = 0\nStdErrMode = 0/' \
    -e "s#^splash = .*#splash = \"$root/examples/lumera/splash.png\"#" \
    -e "s#^icon = .*#icon = \"$root/resources/corvane.ico\"#" \
    "$root/examples/lumera/lumera.toml" > "$work/lumera.toml"
"$host/builder/corvane-build" build "$work/lumera.toml" --stub "$win/resources/corvane.exe" -o "$work/Lumera.exe" >/dev/null
mkdir -p "$work/jre/bin/server"
cp "$win/tests/fixtures/fake_jvm/jvm.dll" "$work/jre/bin/server/"
cp "$host/tests/fixtures/scenario_app/scenario-app.jar" "$work/"

Xvfb :97 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 & xvfb=$!
sleep 1
export DISPLAY=:97 WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1 || true
(cd "$work" && wine ./Lumera.exe >/dev/null 2>&1 &)
sleep 5
import -window root -display :97 "$work/screen.png"
# The splash is centred: keep the middle of the screen around it.
size="$(identify -format '%wx%h' "$root/examples/lumera/splash.png")"
w="${size%x*}" h="${size#*x}"
convert "$work/screen.png" -crop "$((w + 40))x$((h + 40))+$(((1280 - w) / 2 - 20))+$(((1024 - h) / 2 - 20))" +repage \
  "$root/docs/lumera-splash.png"
echo "wrote docs/lumera-splash.png"
