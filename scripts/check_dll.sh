#!/usr/bin/env bash
# Checks a built Rovane.dll: its file format, and that every export of the .def file is there
# under its plain name (no stdcall @N decoration).
set -euo pipefail
dll="$1"
format="$2"
case "$format" in pei-i386) objdump=i686-w64-mingw32-objdump ;; *) objdump=x86_64-w64-mingw32-objdump ;; esac
root="$(dirname "$0")/.."
$objdump -f "$dll" | grep -q "file format $format" || { echo "$dll: not $format"; $objdump -f "$dll"; exit 1; }
exports="$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')"
if grep -q '@' <<<"$exports"; then
  echo "$dll: decorated export names:"; echo "$exports"; exit 1
fi
for name in $(sed -n '/^EXPORTS/,$p' "$root/src/host/rovane.def" | grep -v '^EXPORTS' | grep -v '^;' | awk '{print $1}'); do
  grep -qw "$name" <<<"$exports" || { echo "$dll: export $name missing"; exit 1; }
done
# Resources: the version information and, from the one resource source, the string table and
# the dialogs (their texts are stored as UTF-16).
texts="$(strings -el "$dll")"
for text in "2.3.3 (for Fenwit)" "Optical Disc Duplicator" "Duplicator Options/Services" "Select a Printer..." \
            "Invalid Drive String.  Reboot and try again"; do
  grep -qF "$text" <<<"$texts" || { echo "$dll: resource text \"$text\" missing"; exit 1; }
done
echo "$dll: $format, exports: $(grep -cE '^\s*\[ *[0-9]+\]' <<<"$exports" || true)"
