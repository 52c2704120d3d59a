#!/bin/bash
# Checks a built library's export table against the functions that the client header declares, in both
# directions, and (for the DLL) that it imports only Windows system DLLs.
# Usage: check_exports.sh HEADER LIBRARY host|windows
set -euo pipefail
expected=$(sed -n 's/.*ZUL_MSCOMPAL_API[^(]*[ *]\(ZUL_MSCOMPAL_[A-Za-z]*\)(.*/\1/p' "$1" | sort)
[ "$(grep -c . <<<"$expected")" -eq 25 ] || { echo "the header declares these, not 25:" $expected; exit 1; }
if [ "$3" = windows ]; then
  dump=$(x86_64-w64-mingw32-objdump -p "$2")
  actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z_0-9]*\)$/\1/p' <<<"$dump" | sort)
  others=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u |
    grep -vxE 'kernel32.dll|msvcrt.dll|ole32.dll|oleaut32.dll' || true)
  [ -z "$others" ] || { echo "imports DLLs that are not part of Windows:" $others; exit 1; }
else
  actual=$(nm -D --defined-only "$2" | awk 'NF == 3 {print $3}' | sort)
fi
if [ "$actual" != "$expected" ]; then
  echo "declared, not exported:" $(comm -23 <(echo "$expected") <(echo "$actual")) "; exported, not declared:" \
    $(comm -13 <(echo "$expected") <(echo "$actual"))
  exit 1
fi
