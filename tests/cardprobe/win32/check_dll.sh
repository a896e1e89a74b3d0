#!/bin/sh
# cardprobe.dll as the JVM and Windows see it: exactly the four decorated
# natives, imports of system DLLs only, and its version resource.
# usage: check_dll.sh OBJDUMP DLL
set -eu
objdump=$1 dll=$2
headers=$("$objdump" -p "$dll")
fail=0

exports=$(printf '%s\n' "$headers" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
          sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
want_exports=$(printf '%s\n' \
  _Java_com_quelmara_smartcard_SCUtils_GetATR@12 \
  _Java_com_quelmara_smartcard_SCUtils_GetNativeVersion@8 \
  _Java_com_quelmara_smartcard_SCUtils_ListReaders@8 \
  _Java_com_quelmara_smartcard_SCUtils_SelectApplet@16 | sort)
if [ "$exports" != "$want_exports" ]; then
  echo "exports differ:"; printf '%s\n' "$exports"; fail=1
fi

imports=$(printf '%s\n' "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort)
want_imports=$(printf '%s\n' kernel32.dll msvcrt.dll user32.dll version.dll winscard.dll | sort)
if [ "$imports" != "$want_imports" ]; then
  echo "imports differ:"; printf '%s\n' "$imports"; fail=1
fi

printf '%s\n' "$headers" | grep -q 'Magic.*010b' || { echo "not a 32-bit image"; fail=1; }

# The version strings are UTF-16 in the resource section.
strings=$(strings -el "$dll")
for s in FileVersion "1, 1, 11, 516" ProductVersion VarFileInfo Translation; do
  printf '%s\n' "$strings" | grep -qxF "$s" || { echo "version resource lacks \"$s\""; fail=1; }
done
[ $fail -eq 0 ] && echo "cardprobe.dll: exports, imports and version resource as expected"
exit $fail
