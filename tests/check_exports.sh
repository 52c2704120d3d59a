#!/bin/bash
# Checks a built library's export table against the functions that the client header declares, in both
# directions, and (for the DLL) that it imports only Windows system DLLs.
# Usage: check_exports.sh HEADER LIBRARY host|windows
set -euo pipefail
header=$1
library=$2
target=$3

expected=$(sed -n 's/.*ZUL_MSCOMPAL_API[^(]*[ *]\(ZUL_MSCOMPAL_[A-Za-z]*\)(.*/\1/p' "$header" | sort)
count=$(grep -c . <<<"$expected")
if [ "$count" -ne 25 ]; then
  echo "the header declares $count exports, not 25"
  exit 1
fi

if [ "$target" = windows ]; then
  dump=$(x86_64-w64-mingw32-objdump -p "$library")
  actual=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z_0-9]*\)$/\1/p' | sort)
  imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
  for dll in $imports; do
    case $dll in
      kernel32.dll | msvcrt.dll | ole32.dll | oleaut32.dll) ;;
      *) echo "imports a DLL that is not part of Windows: $dll"; exit 1 ;;
    esac
  done
  echo "imports:" $imports
else
  actual=$(nm -D --defined-only "$library" | awk 'NF == 3 {print $3}' | sort)
fi

missing=$(comm -23 <(echo "$expected") <(echo "$actual"))
extra=$(comm -13 <(echo "$expected") <(echo "$actual"))
if [ -n "$missing" ] || [ -n "$extra" ]; then
  [ -z "$missing" ] || echo "declared but not exported:" $missing
  [ -z "$extra" ] || echo "exported but not declared:" $extra
  exit 1
fi
echo "exports: the $count declared names, nothing else"
