#!/usr/bin/env bash
# Checks that a Windows executable is a 32-bit PE file that imports only DLLs of Windows itself,
# so that it runs as one file with nothing beside it:
#   tools/check-pe-imports.sh OBJDUMP PROGRAM.exe
set -euo pipefail

objdump=$1
program=$2
allowed=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll "

description=$(file -b "$program")
if [[ $description != "PE32 executable"*"Intel 80386"* ]]; then
    echo "not a 32-bit Windows executable: $description"
    exit 1
fi
status=0
count=0
while read -r dll; do
    count=$((count + 1))
    if [[ $allowed != *" ${dll,,} "* ]]; then
        echo "imports $dll, which is not part of Windows"
        status=1
    fi
done < <("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
if ((count == 0)); then
    echo "no imports found in $program"
    status=1
fi
echo "$(basename "$program"): $description; $count DLLs imported"
exit $status
