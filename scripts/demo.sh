#!/usr/bin/env bash
# Sets up a Debian machine, builds the launcher stub configured for the sample application (Lumera)
# and shows what it holds: its size, its resources and its settings and messages.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
cmake --preset host >/dev/null
cmake --build --preset host --target cv-strings-rc cv-show-strings
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target corvane
stub=build/win64/resources/corvane.exe
echo
echo "Launcher stub: $stub ($(stat -c %s "$stub") bytes)"
echo "Resources:"
wrestool -l "$stub" | sed 's/^/  /'
build/host/tools/cv-show-strings "$stub"
