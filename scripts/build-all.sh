#!/usr/bin/env bash
# Builds the three presets: host first (its tools write the stub's resources), then win64, then
# fuzz (clang with sanitizers; it takes the stub of the win64 build as a seed).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host >/dev/null
cmake --build --preset host
cmake --preset win64 >/dev/null
cmake --build --preset win64
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
