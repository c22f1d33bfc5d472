#!/usr/bin/env bash
# Writes the README's table of settings (between its settings-table markers) from the stub and the
# descriptions `corvane-build init` writes, so that both say the same. With --check it only
# compares and exits 1 (showing the difference) when the README differs.
#   scripts/update-readme-settings.sh [--check] [TOOL STUB]
#   (default: build/host/tools/cv-settings-table and build/win64/resources/corvane.exe)
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
if [ "${1:-}" = --check ]; then check=true; shift; fi
tool=${1:-build/host/tools/cv-settings-table}
stub=${2:-build/win64/resources/corvane.exe}
begin='<!-- settings-table: written by scripts/update-readme-settings.sh -->'
end='<!-- end of settings-table -->'
table=$(mktemp)
trap 'rm -f "$table" "$table.readme"' EXIT
"$tool" "$stub" > "$table"
awk -v begin="$begin" -v end="$end" -v table="$table" '
  $0 == begin { print; while ((getline line < table) > 0) print line; skipping = 1; next }
  $0 == end { skipping = 0 }
  !skipping { print }' README.md > "$table.readme"
grep -qxF "$begin" README.md && grep -qxF "$end" README.md || { echo "README.md has no settings-table markers" >&2; exit 1; }
if $check; then
  diff -u README.md "$table.readme" || { echo "README.md's table of settings is out of date: run $0" >&2; exit 1; }
else
  cp "$table.readme" README.md
fi
