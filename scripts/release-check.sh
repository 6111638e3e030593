#!/usr/bin/env bash
# Builds the release archive of each Windows build (the target "release", cmake/release.cmake),
# unpacks it into an empty folder and checks what a user of the archive gets:
#   - the archive's name is Rovane-<VERSION>-<ARCH>.zip with VERSION from src/resources/resource.h,
#     and it holds the one folder Rovane-<VERSION>-<ARCH>/;
#   - the folder's files are exactly the expected ones (every file of examples/minimal-host/ among
#     them), and lib/rovane.def and include/rovane.h are the sources' files;
#   - SHA256SUMS names every other file, and `sha256sum -c` passes;
#   - include/rovane.h declares exactly the exports of lib/rovane.def;
#   - Rovane.dll is a PE of the architecture, and its export table names exactly the exports of
#     lib/rovane.def, undecorated;
#   - the DLL's version information: FileVersion begins with the version in the archive's name,
#     and the fixed file version is that version;
#   - libRovane.dll.a (nm) and Rovane.lib (llvm-nm) each carry every export, with its __imp_
#     symbol; in the i686 Rovane.lib the stdcall names (__imp__Rovane_Init@32, the bytes counted
#     from include/rovane.h) with the undecorated import name;
#   - Rovane.lib works for a linker of MSVC's kind: code compiled against the archive's rovane.h
#     (the compiler decorating the names itself) and linked with lld-link against lib/Rovane.lib
#     imports exactly the exports, by their plain names, from Rovane.dll;
#   - every relative link of the archive's docs/*.md resolves to a file in the archive (the
#     staging writes links to files the archive does not ship as plain text; a link left pointing
#     outside the archive is reported as not shipped, one to no file at all as broken). http(s)
#     links are not fetched.
#
#   scripts/release-check.sh [win32|win64 ...]     default: both
#
# Exits 1 when anything failed, each failure on a line of its own beginning with "FAIL".
set -Eeuo pipefail
# A command that fails outside the checks (a tool missing, a file unreadable) stops the run: say where.
trap 'echo "FAIL: release-check.sh stopped at line $LINENO: $BASH_COMMAND"' ERR
cd "$(dirname "$0")/.."
root="$PWD"
presets=("$@")
((${#presets[@]})) || presets=(win32 win64)

bash scripts/install-deps.sh

failures=()
fail() {
  echo "FAIL [$preset]: $*"
  failures+=("[$preset] $*")
}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

version="$(sed -n 's/^#define ROVANE_VERSION_NUMBERS *\([0-9]*\), *\([0-9]*\), *\([0-9]*\),.*/\1.\2.\3/p' \
           src/resources/resource.h)"
[ -n "$version" ] || { echo "FAIL: no ROVANE_VERSION_NUMBERS in src/resources/resource.h"; exit 1; }
echo "version (src/resources/resource.h): $version"

# The readers of things the binutils do not print plainly, in Python: the version information
# resource of a PE file and the stdcall argument bytes of rovane.h's prototypes (the documents'
# links: scripts/doc-links.py).
cat >"$work/inspect.py" <<'PY'
import os, re, struct, sys

def version_info(path):
    data = open(path, 'rb').read()
    pe = struct.unpack_from('<I', data, 0x3c)[0]
    if data[pe:pe + 4] != b'PE\0\0':
        sys.exit(f'{path}: not a PE file')
    sections = struct.unpack_from('<H', data, pe + 6)[0]
    optional_size = struct.unpack_from('<H', data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from('<H', data, optional)[0]
    directories = optional + (96 if magic == 0x10b else 112)
    resource_rva, _ = struct.unpack_from('<II', data, directories + 2 * 8)
    table = optional + optional_size
    def offset(rva):
        for i in range(sections):
            s = table + 40 * i
            vsize, vaddr, rawsize, rawptr = struct.unpack_from('<IIII', data, s + 8)
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        sys.exit(f'{path}: RVA {rva:#x} in no section')
    base = offset(resource_rva)
    def entries(directory):
        named, numbered = struct.unpack_from('<HH', data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from('<II', data, base + directory + 16 + 8 * i)
            yield name, target
    # Type 16 (RT_VERSION), its first name, its first language: a data entry.
    level = 0
    for name, target in entries(0):
        if name == 16:
            level = target
            break
    else:
        sys.exit(f'{path}: no version information resource')
    while level & 0x80000000:
        level = next(iter(entries(level & 0x7fffffff)))[1]
    rva, size = struct.unpack_from('<II', data, base + level)
    block = data[offset(rva):offset(rva) + size]
    strings = {}
    fixed = None
    def align(n):
        return (n + 3) & ~3
    def walk(at, end):
        nonlocal fixed
        while at < end:
            length, value_length, kind = struct.unpack_from('<HHH', block, at)
            if length == 0:
                break
            key_end = at + 6
            while block[key_end:key_end + 2] != b'\0\0':
                key_end += 2
            key = block[at + 6:key_end].decode('utf-16-le')
            value_at = align(key_end + 2)
            children_at = value_at
            if key == 'VS_VERSION_INFO':
                signature, _, ms, ls = struct.unpack_from('<IIII', block, value_at)
                if signature != 0xFEEF04BD:
                    sys.exit(f'{path}: VS_FIXEDFILEINFO signature {signature:#x}')
                fixed = f'{ms >> 16}.{ms & 0xffff}.{ls >> 16}.{ls & 0xffff}'
                children_at = align(value_at + value_length)
            elif kind == 1 and value_length and key not in ('StringFileInfo', 'VarFileInfo') \
                    and not re.fullmatch(r'[0-9A-Fa-f]{8}', key):
                text = block[value_at:value_at + 2 * value_length].decode('utf-16-le')
                strings[key] = text.rstrip('\0')
                children_at = at + length
            elif key == 'Translation':
                children_at = at + length
            walk(children_at, at + length)
            at = align(at + length)
    walk(0, len(block))
    print(f'FIXED {fixed}')
    for key, text in strings.items():
        print(f'STRING {key}={text}')

def stdcall_bytes(header):
    text = re.sub(r'/\*.*?\*/', '', open(header).read(), flags=re.S)
    for name, arguments in re.findall(r'ROVANE_API\s+(Rovane_\w+)\s*\(([^)]*)\)', text):
        arguments = arguments.strip()
        count = 0 if arguments in ('', 'void') else arguments.count(',') + 1
        print(f'{name} {4 * count}')

command = sys.argv[1]
if command == 'version':
    version_info(sys.argv[2])
else:
    stdcall_bytes(sys.argv[2])
PY

# Prints the names of lib/rovane.def's EXPORTS section, sorted.
def_names() {
  awk '/^EXPORTS/ {on = 1; next} on && NF && $1 !~ /^;/ {print $1}' "$1" | LC_ALL=C sort
}
# Compares two sorted name lists: prints the difference and returns 1 when they differ.
same_names() {
  local what="$1" expected="$2" found="$3"
  if [ "$expected" != "$found" ]; then
    fail "$what: not the exports of lib/rovane.def"
    diff <(echo "$expected") <(echo "$found") | sed -n 's/^</  missing: /p; s/^>/  extra:   /p' || true
    return 1
  fi
}

for preset in "${presets[@]}"; do
  case "$preset" in
    win32) triplet=i686-w64-mingw32 format=pei-i386 machine=x86 lld_extra=(/safeseh:no) ;;
    win64) triplet=x86_64-w64-mingw32 format=pei-x86-64 machine=x64 lld_extra=() ;;
    *) echo "unknown preset $preset (win32 or win64)"; exit 2 ;;
  esac
  echo
  echo "=== $preset ==="
  # Configured every time: a build folder made before the target existed has no rule for it.
  cmake --preset "$preset" >/dev/null
  if ! nice -n 10 cmake --build --preset "$preset" --target release >"$work/build-$preset.txt" 2>&1; then
    cat "$work/build-$preset.txt"
    fail "cmake --build --preset $preset --target release failed"
    continue
  fi
  grep -E '^-- release:' "$work/build-$preset.txt" || true

  # --- the archive's name and folder ---
  name="Rovane-$version-$preset"
  shopt -s nullglob
  zips=("build/$preset"/Rovane-*-"$preset".zip)
  shopt -u nullglob
  if [ "${#zips[@]}" != 1 ] || [ "${zips[0]}" != "build/$preset/$name.zip" ]; then
    fail "expected build/$preset/$name.zip alone, found: ${zips[*]:-nothing}"
    continue
  fi
  zip_version="${name#Rovane-}"
  zip_version="${zip_version%-"$preset"}"
  echo "archive: build/$preset/$name.zip (version $zip_version)"
  unpacked="$work/$preset"
  mkdir "$unpacked"
  python3 -m zipfile -e "build/$preset/$name.zip" "$unpacked"
  top="$(cd "$unpacked" && ls -A)"
  if [ "$top" != "$name" ]; then
    fail "the archive does not unpack to the one folder $name/ (found: $(echo $top))"
    continue
  fi
  dir="$unpacked/$name"

  # --- the file list ---
  found="$(cd "$dir" && find . -type f -printf '%P\n' | LC_ALL=C sort)"
  expected="$( {
    printf '%s\n' bin/Rovane.dll include/rovane.h lib/rovane.def lib/libRovane.dll.a lib/Rovane.lib \
      testing/KT.dll testing/Dorquel.dll testing/KTSDKPLS.dll testing/rovane-host.exe \
      docs/host-guide.md docs/scripts.md docs/log-guide.md SHA256SUMS
    [ ! -d examples/minimal-host ] || (cd examples/minimal-host && find . -type f -printf 'examples/minimal-host/%P\n')
  } | LC_ALL=C sort)"
  echo "files in the archive ($(wc -l <<<"$found")):"
  sed 's/^/  /' <<<"$found"
  if [ "$found" != "$expected" ]; then
    fail "the archive's files are not the expected ones"
    diff <(echo "$expected") <(echo "$found") | sed -n 's/^</  missing: /p; s/^>/  extra:   /p' || true
  fi
  for pair in lib/rovane.def:src/host/rovane.def include/rovane.h:include/rovane.h; do
    [ ! -f "$dir/${pair%%:*}" ] || cmp -s "$dir/${pair%%:*}" "${pair#*:}" ||
      fail "${pair%%:*} differs from the sources' ${pair#*:}"
  done

  # --- SHA256SUMS ---
  echo "sha256sum -c SHA256SUMS:"
  if [ -f "$dir/SHA256SUMS" ]; then
    (cd "$dir" && sha256sum -c SHA256SUMS 2>&1) | sed 's/^/  /' || true
    (cd "$dir" && sha256sum -c --quiet SHA256SUMS >/dev/null 2>&1) || fail "sha256sum -c SHA256SUMS failed"
    listed="$(awk '{print $2}' "$dir/SHA256SUMS" | LC_ALL=C sort)"
    [ "$listed" = "$(grep -vx SHA256SUMS <<<"$found")" ] || fail "SHA256SUMS does not name exactly the other files"
  else
    fail "no SHA256SUMS"
  fi

  [ -f "$dir/lib/rovane.def" ] || { fail "no lib/rovane.def: the exports cannot be checked"; continue; }
  exports="$(def_names "$dir/lib/rovane.def")"
  echo "exports of lib/rovane.def ($(wc -l <<<"$exports")): $(echo $exports)"
  if [ -f "$dir/include/rovane.h" ]; then
    prototypes="$(python3 "$work/inspect.py" stdcall "$dir/include/rovane.h" | awk '{print $1}' | LC_ALL=C sort)"
    same_names "prototypes of include/rovane.h" "$exports" "$prototypes" || true
  fi

  # --- the DLL: format, export table, version information ---
  dll="$dir/bin/Rovane.dll"
  if [ -f "$dll" ]; then
    "$triplet-objdump" -f "$dll" | grep -q "file format $format" || fail "bin/Rovane.dll is not $format"
    table="$("$triplet-objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
             { grep -E '^\s*\[ *[0-9]+\]' || true; } | awk '{print $NF}' | LC_ALL=C sort)"
    echo "export table of bin/Rovane.dll ($format, $(grep -c . <<<"$table") names): $(echo $table)"
    same_names "export table of bin/Rovane.dll" "$exports" "$table" || true
    info="$(python3 "$work/inspect.py" version "$dll")" || fail "bin/Rovane.dll: version information unreadable"
    echo "version information of bin/Rovane.dll:"
    sed 's/^FIXED /  FILEVERSION /; s/^STRING /  /' <<<"$info"
    file_version="$(sed -n 's/^STRING FileVersion=//p' <<<"$info")"
    fixed="$(sed -n 's/^FIXED //p' <<<"$info")"
    [[ "$file_version" =~ ^"$zip_version"([^0-9.]|$) ]] ||
      fail "FileVersion \"$file_version\" does not begin with $zip_version, the archive's version"
    [[ "$fixed" =~ ^"$zip_version"\.[0-9]+$ ]] ||
      fail "FILEVERSION $fixed is not $zip_version, the archive's version"
  else
    fail "no bin/Rovane.dll"
  fi

  # --- the import libraries ---
  # import_symbols LIBRARY TOOL SYMBOLS: the library's __imp_ symbols, printed and held to the
  # expected ones; linked_imports LINKER LIBRARY IMPORTS: what the probe linked through it imports.
  import_symbols() {
    echo "$1, __imp_ symbols ($2, $(grep -c . <<<"$3")): $(echo $3)"
    if [ "$3" != "$expected_symbols" ]; then
      fail "$1: its __imp_ symbols are not those of the exports"
      diff <(echo "$expected_symbols") <(echo "$3") | sed -n 's/^</  missing: /p; s/^>/  extra:   /p' || true
    fi
  }
  linked_imports() {
    echo "$1 against $2: imports from Rovane.dll ($(grep -c . <<<"$3")): $(echo $3)"
    same_names "imports linked through $2" "$exports" "$3" || true
  }
  # Both name each export as code compiled against rovane.h refers to it: plain on x86-64; on
  # i686 (stdcall) __imp__NAME@BYTES, the bytes from the archive's header, 4 per argument.
  if [ "$preset" = win64 ]; then
    expected_symbols="$(sed 's/^/__imp_/' <<<"$exports")"
    name_type=name
  else
    expected_symbols="$(python3 "$work/inspect.py" stdcall "$dir/include/rovane.h" |
      awk 'NR == FNR {bytes[$1] = $2; next} {print "__imp__" $1 "@" (($1 in bytes) ? bytes[$1] : "?")}' - <(echo "$exports") |
      LC_ALL=C sort)"
    name_type=undecorate
  fi
  # The probe: code taking every export's address, compiled against the archive's header (the
  # compiler decorating the names itself), linked against each import library alone.
  {
    echo '#include "rovane.h"'
    echo 'void *const rovane_exports[] = {'
    sed 's/.*/    (void *)&,/' <<<"$exports"
    echo '};'
  } >"$work/probe-$preset.c"
  "$triplet-gcc" -c -O1 -I "$dir/include" "$work/probe-$preset.c" -o "$work/probe-$preset.o" ||
    fail "include/rovane.h: the probe does not compile"
  if [ -f "$dir/lib/libRovane.dll.a" ]; then
    import_symbols "lib/libRovane.dll.a" nm \
      "$("$triplet-nm" "$dir/lib/libRovane.dll.a" | awk '$2 == "I" && $3 ~ /^__imp_/ {print $3}' | LC_ALL=C sort -u)"
    # A link as a mingw host makes it: gcc against libRovane.dll.a alone.
    if "$triplet-gcc" -shared -nostdlib "$work/probe-$preset.o" -L "$dir/lib" -lRovane -o "$work/probe-mingw-$preset.dll"; then
      linked_imports "gcc" "lib/libRovane.dll.a" "$("$triplet-objdump" -p "$work/probe-mingw-$preset.dll" |
        awk '/DLL Name:/ {dll = $3; next} dll == "Rovane.dll" && $NF ~ /^Rovane_/ {print $NF}' | LC_ALL=C sort)"
    else
      fail "code compiled against include/rovane.h does not link against lib/libRovane.dll.a"
    fi
  else
    fail "no lib/libRovane.dll.a"
  fi
  lib="$dir/lib/Rovane.lib"
  if [ -f "$lib" ]; then
    import_symbols "lib/Rovane.lib" llvm-nm "$(llvm-nm "$lib" | awk '$3 ~ /^__imp_/ {print $3}' | LC_ALL=C sort -u)"
    # The name the loader looks up: each member's import name type.
    types="$(llvm-readobj --coff-imports "$lib" | sed -n 's/^Name type: //p' | sort | uniq -c | sed 's/^ *//')"
    echo "lib/Rovane.lib, import name types: $types"
    [ "$types" = "$(grep -c . <<<"$exports") $name_type" ] ||
      fail "lib/Rovane.lib: import name types are not all \"$name_type\""
    # A link as MSVC's linker makes it: the probe, with lld-link against Rovane.lib alone.
    if lld-link /nologo /dll /noentry /nodefaultlib /machine:$machine "${lld_extra[@]}" \
         /out:"$work/probe-$preset.dll" "$work/probe-$preset.o" "$lib"; then
      linked_imports "lld-link" "lib/Rovane.lib" "$(llvm-readobj --coff-imports "$work/probe-$preset.dll" |
        awk '/Name: /{dll = $2} /Symbol: / && dll == "Rovane.dll" {print $2}' | LC_ALL=C sort)"
    else
      fail "code compiled against include/rovane.h does not link against lib/Rovane.lib"
    fi
  else
    fail "no lib/Rovane.lib"
  fi

  # --- the documents' links ---
  echo "relative links of docs/*.md:"
  python3 scripts/doc-links.py --inside "$dir" --sources "$root" "$dir"/docs/*.md "$dir"/examples/minimal-host/*.md ||
    fail "docs/*.md: links that do not resolve inside the archive"
  echo "$preset: checked"
done

echo
if ((${#failures[@]})); then
  echo "release-check: ${#failures[@]} failure(s):"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "release-check: ${presets[*]}: all checks passed"
