#!/usr/bin/env bash
# Fails when a test of the given ctest logs was skipped ("[  SKIPPED ]") or disabled without a reason
# named in tests/skips-allowed.txt (lines "Suite.Test reason"), so that no test passes silently.
#   scripts/check-skips.sh LOG...   (ctest's Testing/Temporary/LastTest.log of each build)
set -euo pipefail
cd "$(dirname "$0")/.."
allowed=tests/skips-allowed.txt
status=0
while read -r name reason; do
  [ -z "$name" ] || [ "${name#\#}" != "$name" ] || [ -n "$reason" ] ||
    { echo "$allowed: $name names no reason" >&2; status=1; }
done < "$allowed"
for log in "$@"; do
  [ -f "$log" ] || { echo "no test log $log" >&2; status=1; continue; }
  for name in $(sed -n 's/.*\[  SKIPPED \] \([^ ]*\.[^ ]*\).*/\1/p' "$log" | sort -u); do
    if ! grep -q "^$(printf '%s' "$name" | sed 's/[.[\*^$/]/\\&/g')[[:space:]]\+[^[:space:]]" "$allowed"; then
      echo "$log: $name was skipped, and $allowed names no reason for it" >&2
      status=1
    fi
  done
  if grep -q "YOU HAVE [0-9]* DISABLED TEST" "$log"; then
    echo "$log: disabled tests (DISABLED_) run nowhere; remove or enable them" >&2
    status=1
  fi
done
exit $status
