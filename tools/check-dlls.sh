#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that Windows does not ship.
set -euo pipefail
exe="$1"
allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|shell32|advapi32|winmm|d3d9|msvcrt|ole32|oleaut32|ws2_32|shlwapi|uxtheme|version|ntdll)\.dll$'
bad=0
while read -r dll; do
  if ! tr '[:upper:]' '[:lower:]' <<<"$dll" | grep -Eq "$allowed"; then
    echo "$exe imports $dll, which Windows does not ship" >&2
    bad=1
  fi
done < <(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p')
exit $bad
