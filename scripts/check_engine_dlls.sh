#!/usr/bin/env bash
# Checks the stand-in recording engine libraries built beside Rovane.dll: their format and the
# exports the module looks up (KT.dll's tray call by ordinal 170, the others by plain name).
set -euo pipefail
dir="$1"
format="$2"
case "$format" in pei-i386) objdump=i686-w64-mingw32-objdump ;; *) objdump=x86_64-w64-mingw32-objdump ;; esac
check() {  # library, expected text in its export tables
  local dll="$dir/$1" exports
  $objdump -f "$dll" | grep -q "file format $format" || { echo "$dll: not $format"; exit 1; }
  exports="$($objdump -p "$dll" | sed -n '/^Export Address Table/,/^$/p;/\[Ordinal\/Name Pointer\] Table/,/^$/p')"
  grep -q '@' <<<"$exports" && { echo "$dll: decorated export names:"; echo "$exports"; exit 1; }
  shift
  for want in "$@"; do
    grep -qE "$want" <<<"$exports" || { echo "$dll: no export matching '$want':"; echo "$exports"; exit 1; }
  done
}
check KT.dll 'Ordinal Base 170' '\] Kt_MoveTray$'
check Dorquel.dll '\] DQ_OpenCloseTray$'
check KTSDKPLS.dll '\] VeltoSDK_GetHandle$' '\] VeltoSDK_Command$' '\] VeltoSDK_ReleaseHandle$'
[ -f "$dir/rovane-host.exe" ] || { echo "$dir/rovane-host.exe missing"; exit 1; }
echo "$dir: KT.dll (Kt_MoveTray at 170), Dorquel.dll, KTSDKPLS.dll and rovane-host.exe: $format"
