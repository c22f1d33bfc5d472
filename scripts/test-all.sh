#!/usr/bin/env bash
# Sets up a Debian machine, builds everything and runs every test layer: host unit tests, the
# Windows-side unit tests under Wine, the end-to-end scenarios under Wine and Xvfb, and a short run
# of every fuzz target over its seeds.
# Exits non-zero when any test fails, or a test was skipped without a reason in tests/skips-allowed.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup-debian.sh
./scripts/build-all.sh
status=0
ctest --preset win64 -j 2 || status=1
ctest --preset host -j 2 || status=1
ctest --preset fuzz -j 2 || status=1
./scripts/check-skips.sh build/win64/Testing/Temporary/LastTest.log build/host/Testing/Temporary/LastTest.log || status=1
exit $status
