#!/usr/bin/env bash
# Checks that the launcher's sources read as layers: an include names only the file's own folder or
# a folder of a lower layer; every file that includes a Windows header (directly or through a _win
# header) carries the _win mark; and no handle is closed outside the owner types. Prints each fault
# and exits 1 when there is one.
#   tests/layers/check_layers.sh [SRC]      (default: src beside this script's repository)
set -uo pipefail
src="${1:-$(dirname "$0")/../../src}"
cd "$src" || exit 2

# The layers from the bottom up; folders of one rank are peers and may not include each other.
declare -A rank=([base]=0 [ui]=1 [archives]=2 [runtime]=2 [app]=3 [service]=4 [launcher]=5)
faults=0
fault() { echo "$1"; faults=$((faults + 1)); }

files=$(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | grep -v '^app/win64/' | sort)
for file in $files; do
  folder=${file%%/*}
  [ -n "${rank[$folder]+x}" ] || { fault "$file: its folder is no layer"; continue; }
  while IFS= read -r included; do
    target=${included%%/*}
    [ "$target" = "$folder" ] && continue
    if [ -z "${rank[$target]+x}" ]; then
      fault "$file: includes $included, which is in no layer"
    elif [ "${rank[$target]}" -ge "${rank[$folder]}" ]; then
      fault "$file: includes $included, which is not below $folder"
    fi
  done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file")
  if grep -qE '^#include (<(windows|shlobj|shellapi)\.h>|"[^"]*_win\.h")' "$file"; then
    case "$file" in
      *_win.h | *_win.cpp) ;;
      *) fault "$file: uses Windows but has no _win mark" ;;
    esac
  fi
  if [ "$file" != base/handles_win.h ] &&
     grep -nE '\b(CloseHandle|RegCloseKey|FindClose|CloseServiceHandle|FreeLibrary|DeregisterEventSource)\(' "$file"; then
    fault "$file: closes a handle outside the owner types"
  fi
done
[ "$faults" -eq 0 ] && echo "layers: $(echo "$files" | wc -l) files, no fault"
[ "$faults" -eq 0 ]
