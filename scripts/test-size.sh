#!/usr/bin/env bash
# Prints the size of the product, of the test cases and of the test machinery, in lines of C, C++
# and Java, and the ratios the project keeps: test cases at most a third of the product, machinery
# at most 3,500 lines.
set -euo pipefail
cd "$(dirname "$0")/.."

lines() {
  local total=0 dir n
  for dir in "$@"; do
    [ -d "$dir" ] || continue
    n=$(find "$dir" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.java' \) -print0 |
        xargs -0 -r cat | wc -l)
    total=$((total + n))
  done
  echo "$total"
}

product=$(lines src builder tools)
cases=$(lines tests/unit tests/win tests/builder tests/e2e fuzz/targets)
machinery=$(lines tests/fixtures tests/wine tests/contract tests/shared)

printf '%-14s %6d  (src %d, builder %d, tools %d)\n' product "$product" \
  "$(lines src)" "$(lines builder)" "$(lines tools)"
printf '%-14s %6d  (unit %d, win %d, builder %d, e2e %d, fuzz %d)\n' "test cases" "$cases" \
  "$(lines tests/unit)" "$(lines tests/win)" "$(lines tests/builder)" "$(lines tests/e2e)" "$(lines fuzz/targets)"
printf '%-14s %6d  (fake runtime and fixtures %d, Wine harness %d, contract %d, shared %d)\n' machinery \
  "$machinery" "$(lines tests/fixtures)" "$(lines tests/wine)" "$(lines tests/contract)" "$(lines tests/shared)"
ratio=$(awk -v c="$cases" -v p="$product" 'BEGIN { printf "%.2f", c / p }')
printf 'test cases / product = %s (at most 0.33), machinery %d (at most 3500)\n' "$ratio" "$machinery"
ok=1
[ $((cases * 3)) -le "$product" ] || ok=0
[ "$machinery" -le 3500 ] || ok=0
[ "$ok" = 1 ] && echo "within the limits" || { echo "over the limits"; exit 1; }
