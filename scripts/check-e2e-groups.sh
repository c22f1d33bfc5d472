#!/usr/bin/env bash
# Fails when a test suite of the end-to-end test program is in no registered group (so it would never
# run: each ctest entry e2e.<Group> runs the suite <Group> only), or when a group has no suite.
#   scripts/check-e2e-groups.sh TEST_PROGRAM GROUP...
set -euo pipefail
program=$1
shift
suites=$("$program" --gtest_list_tests | sed -n 's/^\([^ ].*\)\.$/\1/p' | sort -u)
[ -n "$suites" ] || { echo "no test suites listed by $program" >&2; exit 1; }
status=0
for suite in $suites; do
  found=0
  for group in "$@"; do [ "$suite" = "$group" ] && found=1; done
  if [ "$found" = 0 ]; then
    echo "suite $suite is in no e2e group: name it after a group of tests/e2e/CMakeLists.txt, or add a group" >&2
    status=1
  fi
done
for group in "$@"; do
  grep -qxF "$group" <<< "$suites" || { echo "e2e group $group has no suite" >&2; status=1; }
done
[ "$status" = 0 ] && echo "every e2e suite is in a group ($(wc -w <<< "$suites") suites)"
exit $status
