#!/usr/bin/env bash
# The example host, from the archive alone: a host developer's first steps, checked.
#
#   scripts/example-check.sh ARCHIVE.zip|FOLDER [x86-64|i686]
#
# ARCHIVE.zip is a Rovane-VERSION-ARCH.zip (or FOLDER the folder it unpacks to). The check unpacks
# it into an empty folder, copies the archive's examples/minimal-host into another empty folder
# (or, from an archive without it, the source tree's, and says so), builds minimal-host.exe there
# with its Makefile against the unpacked folder alone (the compiler's command is printed), puts the
# archive's bin/Rovane.dll and the stand-in recording engine of testing/ beside it and runs it
# under Wine against the virtual autoloader: `rovane-sim serve` on a pseudo-terminal, the robot's
# port COM1 mapped to it in a fresh prefix, the module's data folder registered, the machine's
# printers in the spooler and the settings file with the recorders' places, as wine-check.sh sets
# them up (scripts/wine-env.sh). The machine: four recorders, the disc printer "Pellan IV" stored
# as the printer, no label application.
#
# Start-up then shows the notice that the label application is missing, on the host's thread. A
# person at the machine presses its OK; here a small stand-in operator under the same Wine does.
# It names every window of the module that it sees; the only other one a good job may show is the
# "Robot Message" of the job end ("Waiting for the printing to finish...", while the last commands
# are played), which closes by itself. Any other is a failure (the operator answers it Cancel, so
# that the run ends and shows what followed).
#
# Passes when the example exits 0 (every call gave what the host guide says) and serve saw the
# robot carry four discs from an input bin into the recorders and four from the recorders to an
# output bin. The architecture comes from the archive's name (win64: x86-64, win32: i686) unless
# given. EXAMPLE_CHECK_SPEED=F makes the machine's motions F times quicker (serve --speed F): less
# real time for the run. A machine whose kernel cannot run 32-bit programs builds the i686 example and skips its
# run, saying why.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
archive="${1:?usage: scripts/example-check.sh ARCHIVE.zip|FOLDER [x86-64|i686]}"
arch="${2:-}"
[ -e "$archive" ] || { echo "FAILED: example-check: no archive or folder '$archive'"; exit 1; }
archive="$(cd "$(dirname "$archive")" && pwd)/$(basename "$archive")"
if [ -z "$arch" ]; then
  case "$(basename "$archive")" in
    *-win64 | *-win64.zip) arch=x86-64 ;;
    *-win32 | *-win32.zip) arch=i686 ;;
    *) echo "FAILED: example-check: cannot tell the architecture from '$archive'; name it (x86-64 or i686)"; exit 1 ;;
  esac
fi
case "$arch" in
  x86-64 | win64) arch=x86-64 cc=x86_64-w64-mingw32-gcc launcher=/usr/lib/wine/wine64 ;;
  i686 | win32) arch=i686 cc=i686-w64-mingw32-gcc launcher=/usr/lib/wine/wine ;;
  *) echo "FAILED: example-check: unknown architecture '$arch' (x86-64 or i686)"; exit 1 ;;
esac

bash scripts/install-deps.sh --wine
bash scripts/install-deps.sh

# The virtual autoloader is the test's machine, not part of the archive: from this tree.
tool="$root/build/sim/bin/rovane-sim"
if [ ! -x "$tool" ]; then
  cmake --preset sim >/dev/null
  cmake --build --preset sim --target rovane-sim
fi

work="$(mktemp -d /tmp/rovane-example.XXXXXX)"
xvfb_pid="" serve_pid=""
cleanup() {
  [ -n "$serve_pid" ] && kill "$serve_pid" 2>/dev/null || true
  [ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# --- the archive, unpacked into an empty folder ---------------------------------------------------
mkdir "$work/unpacked"
if [ -d "$archive" ]; then
  cp -r "$archive" "$work/unpacked/"
  echo "example-check $arch: the folder $archive"
else
  (cd "$work/unpacked" && cmake -E tar xf "$archive")
  echo "example-check $arch: $archive unpacked"
fi
folders=("$work/unpacked"/*)
if [ "${#folders[@]}" != 1 ] || [ ! -d "${folders[0]}" ]; then
  echo "FAILED: example-check $arch: the archive does not unpack to one folder:"
  (cd "$work/unpacked" && find . -maxdepth 1 | sort)
  exit 1
fi
rovane="${folders[0]}"
missing=()
for f in bin/Rovane.dll include/rovane.h lib/libRovane.dll.a testing/KT.dll testing/Dorquel.dll testing/KTSDKPLS.dll; do
  [ -f "$rovane/$f" ] || missing+=("$f")
done
((${#missing[@]} == 0)) || { echo "FAILED: example-check $arch: $(basename "$rovane") lacks ${missing[*]}"; exit 1; }

# --- the example, built in another empty folder from the archive alone -----------------------------
mkdir "$work/example"
if [ -d "$rovane/examples/minimal-host" ]; then
  cp -r "$rovane/examples/minimal-host/." "$work/example/"
  echo "example-check $arch: the example's sources from the archive's examples/minimal-host"
else
  cp -r "$root/examples/minimal-host/." "$work/example/"
  echo "example-check $arch: the archive has no examples/minimal-host: the example's sources are the source tree's"
fi
echo "example-check $arch: make ROVANE=$rovane CC=$cc"
if ! make -C "$work/example" --no-print-directory ROVANE="$rovane" CC="$cc" 2>&1 | sed 's/^/    /'; then
  echo "FAILED: example-check $arch: the example does not build"
  exit 1
fi
[ -f "$work/example/minimal-host.exe" ] || { echo "FAILED: example-check $arch: make made no minimal-host.exe"; exit 1; }
cp "$rovane/bin/Rovane.dll" "$rovane/testing/KT.dll" "$rovane/testing/Dorquel.dll" "$rovane/testing/KTSDKPLS.dll" \
  "$work/example/"

# --- can this machine run it? ----------------------------------------------------------------------
# shellcheck source=scripts/wine-env.sh
. scripts/wine-env.sh
wine_runs "$launcher" "example-check $arch: built; its run" || exit 0

# --- the stand-in operator: presses OK on the label application's notice -------------------------
mkdir "$work/operator"
cat >"$work/operator/operator.c" <<'OPERATOR'
/* operator.exe STOPFILE: the person at the machine, for a run that should show only what the
 * host guide says a good job shows. Every 100 ms it reads the dialog-class windows ("#32770") of
 * the other programs, their caption and the texts of their static controls, and names each one
 * when it appears and when its texts change. The notice that the label application is missing
 * gets OK, after a moment. The "Robot Message" that a job end shows while the last commands are
 * played ("Waiting for the printing to finish...") closes by itself. Any other text is
 * UNEXPECTED, and answered Cancel. It ends when STOPFILE exists. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#define NOTICE "The SureThing program could not be located."
#define JOB_END_WAIT "Waiting for the printing to finish..."
#define MAX_SEEN 64
#define TEXT_MAX 2048
static struct { HWND hWnd; char szText[TEXT_MAX]; int fAnswered; } g_aSeen[MAX_SEEN];
static int g_cSeen;

static BOOL CALLBACK AddText(HWND hChild, LPARAM lParam) {
    char* pszText = (char*)lParam;
    char szClass[32], szPart[1024];
    if (!GetClassNameA(hChild, szClass, sizeof szClass) || lstrcmpiA(szClass, "Static") != 0) return TRUE;
    if (GetWindowTextA(hChild, szPart, sizeof szPart) <= 0) return TRUE;
    if (*pszText && strlen(pszText) + 3 < TEXT_MAX) strcat(pszText, " | ");
    strncat(pszText, szPart, TEXT_MAX - 1 - strlen(pszText));
    return TRUE;
}

static BOOL CALLBACK Look(HWND hWnd, LPARAM lParam) {
    (void)lParam;
    DWORD dwProcess = 0;
    char szClass[32], szCaption[256], szText[TEXT_MAX] = "";
    GetWindowThreadProcessId(hWnd, &dwProcess);
    if (dwProcess == GetCurrentProcessId() || !IsWindowVisible(hWnd)) return TRUE;
    if (!GetClassNameA(hWnd, szClass, sizeof szClass) || strcmp(szClass, "#32770") != 0) return TRUE;
    GetWindowTextA(hWnd, szCaption, sizeof szCaption);
    EnumChildWindows(hWnd, AddText, (LPARAM)szText);
    for (char* p = szText; *p; ++p)
        if (*p == '\r' || *p == '\n') *p = ' ';
    int i = 0;
    while (i < g_cSeen && g_aSeen[i].hWnd != hWnd) ++i;
    if (i == g_cSeen) {
        if (g_cSeen == MAX_SEEN) return TRUE;
        g_aSeen[g_cSeen].hWnd = hWnd;
        g_aSeen[g_cSeen].szText[0] = '\1'; /* differs from any text: named the first time */
        ++g_cSeen;
    }
    if (strcmp(g_aSeen[i].szText, szText) == 0) return TRUE;
    strcpy(g_aSeen[i].szText, szText);
    printf("operator: window \"%s\": %s\n", szCaption, szText);
    if (strncmp(szText, NOTICE, strlen(NOTICE)) == 0 && !g_aSeen[i].fAnswered) {
        Sleep(1000);
        PostMessageA(hWnd, WM_COMMAND, IDOK, 0);
        g_aSeen[i].fAnswered = 1;
        printf("operator: answered OK\n");
    } else if (strcmp(szCaption, "Robot Message") == 0 && strstr(szText, JOB_END_WAIT) != NULL) {
        printf("operator: the job end's wait; it closes by itself\n");
    } else if (szText[0] != '\0') {
        /* Cancel, so that the run goes on to its end and shows what followed. */
        Sleep(1000);
        PostMessageA(hWnd, WM_COMMAND, IDCANCEL, 0);
        printf("operator: UNEXPECTED window, answered Cancel\n");
    }
    fflush(stdout);
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    while (GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES) {
        EnumWindows(Look, 0);
        Sleep(100);
    }
    return 0;
}
OPERATOR
"$cc" -O2 -o "$work/operator/operator.exe" "$work/operator/operator.c"

# --- the machine: serve, the prefix, the printers, the settings --------------------------------------
machine=(--no-label-app --printer "Pellan IV" --setting "Printer=Pellan IV")
[ -z "${EXAMPLE_CHECK_SPEED:-}" ] || machine+=(--speed "$EXAMPLE_CHECK_SPEED")
start_wine_display
mkdir -p "$work/ports" "$work/share"
make_prefix "$launcher" "$work/prefix" "$work/ports"
data="$WINEPREFIX/drive_c/ProgramData/Marlune"
"$tool" serve --pty "$work/ports/com1" --share "$work/share" "${machine[@]}" >"$work/serve.txt" 2>"$work/serve.err" &
serve_pid=$!
for _ in $(seq 100); do [ -f "$work/share/units.txt" ] && break; sleep 0.1; done
if [ ! -f "$work/share/units.txt" ]; then
  echo "FAILED: example-check $arch: serve did not start"
  cat "$work/serve.err"
  exit 1
fi
robot_port "$launcher" "$WINEPREFIX" "$work/ports" COM1
machine_printers "$launcher" "$WINEPREFIX" "$work/share/printers.txt"
settings_file "$work/share/units.txt" "${machine[@]}" >"$data/ROVANE_QIX.INI"

# --- the run -----------------------------------------------------------------------------------------
"$launcher" "$work/operator/operator.exe" "$(windows_path "$work/operator/stop")" >"$work/operator.txt" 2>&1 &
operator_pid=$!
started=$(date +%s)
example_status=0
(cd "$work/example" && ROVANE_ENGINE_DIR="$(windows_path "$work/share")" timeout 900 "$launcher" minimal-host.exe \
  "$(windows_path "$work/share/recorders.txt")" >"$work/example.txt" 2>"$work/example.err") || example_status=$?
touch "$work/operator/stop"
timeout 30 tail --pid="$operator_pid" -f /dev/null || kill "$operator_pid" 2>/dev/null || true
# serve takes in what the module wrote last (its final "_RESET") before it ends.
serve_status=0
kill -TERM "$serve_pid" 2>/dev/null || true
timeout 60 tail --pid="$serve_pid" -f /dev/null || kill -KILL "$serve_pid" 2>/dev/null || true
wait "$serve_pid" || serve_status=$?
serve_pid=""

echo "example-check $arch: minimal-host.exe (exit $example_status, $(($(date +%s) - started)) s):"
sed 's/^/    /' "$work/example.txt"
[ ! -s "$work/example.err" ] || { echo "  its standard error:"; sed 's/^/    /' "$work/example.err"; }
echo "example-check $arch: the stand-in operator:"
sed 's/^/    /' "$work/operator.txt"

# What the robot did: each _PICK takes a disc from where the arm last moved to, the next puts it
# down where the arm moved to then. A load is a carry from an input bin (a digit) to a recorder
# (A to D); an unload, from a recorder to an output bin.
carries="$(sed -nE 's/^ *[0-9]+ (_MOVE:.*|_PICK)$/\1/p' "$work/serve.txt" | awk '
  /^_MOVE:/ { at = substr($0, 7); next }
  /^_PICK$/ { if (held == "") held = at; else { printf "%s>%s\n", held, at; held = "" } }')"
loads=$(grep -cE '^[0-9]>[A-D]$' <<<"$carries" || true)
unloads=$(grep -cE '^[A-D]>[0-9]$' <<<"$carries" || true)
echo "example-check $arch: serve (exit $serve_status): the robot's commands: $(sed -nE 's/^ *[0-9]+ (_.*)$/\1/p' "$work/serve.txt" | paste -sd' ')"
echo "    carries: $(paste -sd' ' <<<"$carries"); $loads loads, $unloads unloads"
echo "    trays: $(sed -nE 's/^ *[0-9]+ tray (.*)$/\1/p' "$work/serve.txt" | paste -sd, -)"
echo "    at the end: $(grep -E '^place ' "$work/serve.txt" | sed 's/^place //' | paste -sd, -)"

ok=1
[ "$example_status" = 0 ] || { echo "FAILED: example-check $arch: minimal-host.exe exited with $example_status"; ok=0; }
[ "$serve_status" = 0 ] || { echo "FAILED: example-check $arch: serve exited with $serve_status"; cat "$work/serve.err"; ok=0; }
[ "$loads" = 4 ] || { echo "FAILED: example-check $arch: the robot loaded $loads discs into recorders, not 4"; ok=0; }
[ "$unloads" = 4 ] || { echo "FAILED: example-check $arch: the robot unloaded $unloads discs from recorders, not 4"; ok=0; }
! grep -q UNEXPECTED "$work/operator.txt" || { echo "FAILED: example-check $arch: a window came up that the run should not show"; ok=0; }
if [ "$ok" != 1 ]; then
  [ ! -f "$data/Rovane_QIX.dbg" ] || { echo "--- the module's log (end)"; tr -d '\r' <"$data/Rovane_QIX.dbg" | tail -40; }
  exit 1
fi
echo "example-check $arch: passed: the example built from $(basename "$rovane") alone ran its job to the end"
