#!/usr/bin/env bash
# Builds both presets: host first (its tools write the stub's resources), then win64.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset win64 >/dev/null
cmake --build --preset win64
