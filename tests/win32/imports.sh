#!/usr/bin/env bash
# Each .exe given may import only DLLs that every Windows has: the runtime is linked in
# statically, so no libstdc++, libgcc or libwinpthread DLL may be named.
set -euo pipefail
allowed='^(kernel32|user32|gdi32|ws2_32|iphlpapi|advapi32|shell32|ole32|oleaut32|comctl32|msimg32|msvcrt)\.dll$'
status=0
for exe in "$@"; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    [ -n "$dlls" ] || { echo "$exe: no imports read" >&2; status=1; }
    for dll in $dlls; do
        if ! echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$allowed"; then
            echo "$(basename "$exe") imports $dll" >&2
            status=1
        fi
    done
    echo "$(basename "$exe"): $(echo $dlls)"
done
exit $status
