#!/usr/bin/env bash
# Runs one Windows program under Wine for ctest. Each test group has its own prefix (WINEPREFIX,
# set by the test; else ./wineprefix beside the test), created on first use and never ~/.wine.
set -euo pipefail
prefix="${WINEPREFIX:-$PWD/wineprefix}"
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
) 9>"$prefix.lock"
# Wine's own processes would otherwise outlive the test and hold the build tree.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine "$@"
