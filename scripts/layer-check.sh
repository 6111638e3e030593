#!/usr/bin/env bash
# The module's folders are floors: a file may include the headers of its own folder and of the
# floors below it, never of a floor above. From the ground up:
#
#   resources <- foundation <- robot <- printer <- setup <- sequencer <- host
#
# Reads every `#include "folder/..."` of the module's sources (.cpp, .h, .rc, .inc) and prints
# each one that runs back up, with its file and line; exit 1 when there is one, or when a folder
# of the module is not on a floor (a new folder takes its place in the list below first).
#
#   scripts/layer-check.sh [SRC_DIR]      default: src of this checkout
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"
floors=(resources foundation robot printer setup sequencer host)

[ -d "$src" ] || { echo "layer-check: no folder $src"; exit 2; }
# One pass of awk over every source: the floors come in as "name name ...", the files as their
# paths under src/ (FILENAME has the src prefix taken off below).
find "$src" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.rc' -o -name '*.inc' \) -print0 | sort -z |
  xargs -0 awk -v src="$src/" -v floors="${floors[*]}" '
    BEGIN {
      n = split(floors, name, " ")
      for (i = 1; i <= n; ++i) floor[name[i]] = i
      # every folder of the module must stand on a floor
      cmd = "ls -1 -d " src "*/"
      while ((cmd | getline dir) > 0) {
        sub(/\/$/, "", dir); sub(/.*\//, "", dir)
        if (!(dir in floor)) { printf "layer-check: src/%s/ stands on no floor: give it its place in scripts/layer-check.sh\n", dir; bad = 1 }
      }
      close(cmd)
    }
    FNR == 1 { ++files; rel = substr(FILENAME, length(src) + 1); folder = rel; sub(/\/.*/, "", folder) }
    /^[ \t]*#[ \t]*include[ \t]+"[A-Za-z0-9_]+\// {
      if (!(folder in floor)) next  # said above
      target = $0; sub(/^[^"]*"/, "", target); sub(/".*/, "", target)
      theirs = target; sub(/\/.*/, "", theirs)
      ++includes
      if (!(theirs in floor)) { printf "layer-check: src/%s:%d includes %s, from a folder on no floor\n", rel, FNR, target; bad = 1 }
      else if (floor[theirs] > floor[folder]) {
        printf "layer-check: src/%s:%d includes %s: %s may not include %s, a floor above it\n", rel, FNR, target, folder, theirs
        bad = 1
      }
    }
    END {
      if (bad) { printf "layer-check: FAILED (the floors, from the ground up: %s)\n", floors; exit 1 }
      printf "layer-check: %d files, %d includes of a folder, none runs back up (%s)\n", files, includes, floors
    }'
