#!/usr/bin/env bash
# The main job: sets up a Debian machine, builds corvane-build, the launcher stub and the sample
# application Lumera, writes Lumera's launcher with corvane-build and shows what it holds.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
cmake --preset host >/dev/null
cmake --build --preset host --target corvane-build cv-project-rc lumera-jar
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target corvane
mkdir -p build/demo
cp build/host/examples/lumera/Lumera.jar build/demo/
build/host/builder/corvane-build build examples/lumera/lumera.toml \
  --stub build/win64/resources/corvane.exe -o build/demo/Lumera.exe
echo
build/host/builder/corvane-build inspect build/demo/Lumera.exe
echo
echo "Lumera's launcher and its jar are in build/demo/; copy both to a Windows machine with Java 17."
