# Sourced by the scripts that run programs under Wine (wine-check.sh, win32-conformance.sh,
# example-check.sh).
#
# start_wine_display: one X display for every run (Wine's windows, message boxes and dialogs,
# need one), its server's process id in xvfb_pid for the caller's clean-up, and Wine quiet: no
# debug output, no Mono or Gecko installers when a prefix is made.
start_wine_display() {
  local display=":$((90 + RANDOM % 100))"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  export DISPLAY="$display"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# --- a host program against the virtual autoloader (wine-check.sh, example-check.sh) ------------
# The machine's flags are those of `rovane-sim serve` (and `rovane-sim host`).
flag_value() {  # FLAG, then the flags: the value of the flag's last use
  local want="$1" value="" i
  shift
  local flags=("$@")
  for ((i = 0; i + 1 < ${#flags[@]}; i++)); do [ "${flags[$i]}" = "$want" ] && value="${flags[$((i + 1))]}"; done
  printf '%s' "$value"
}
has_flag() { local want="$1" f; shift; for f in "$@"; do [ "$f" = "$want" ] && return 0; done; return 1; }

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The prefix: the host's data folder registered for each host name; the robot's port is mapped
# per scenario (robot_port).
make_prefix() {  # launcher, prefix, folder of the port paths
  local launcher="$1" prefix="$2" ports="$3" n keyword
  export WINEPREFIX="$prefix"
  timeout 300 "$launcher" wineboot -i >/dev/null 2>&1
  for keyword in VeltoDVD Fenwit Quessa; do
    reg_add "$launcher" "HKLM\\Software\\Marlune\\$keyword" /v DataPath /d 'C:\ProgramData\Marlune\'
  done
  rm -f "$prefix/robot-port"
  mkdir -p "$prefix/drive_c/ProgramData/Marlune"
  # Wine's spooler pipes each raw document it finishes for a mapped port into this script (see
  # machine_printers): it writes the bytes whole into the engine folder's docs/, under a name that
  # sorts in the order the documents came, and serve hands them to the world's printer on that
  # port. EndDocPrinter returns once the script has ended.
  cat >"$prefix/spool.sh" <<'SPOOL'
dir="$(printf '%s' "${ROVANE_ENGINE_DIR#Z:}" | tr '\\' /)/docs"
cat >"$dir/.$$.part" && mv "$dir/.$$.part" "$dir/$(date +%s%N)-$$-$1"
SPOOL
}
# The robot's port, COMn, is the only port Wine maps (to the path serve links to its terminal);
# the others have nothing behind them, as on a PC whose COM2 is not there, and opening one fails
# with "file not found". Wine reads the mapping when its services start, and they also link a
# COM port to each serial device of the Linux machine (its /dev/ttyS0 becomes COM1): so when the
# port changes, the server starts anew, its services are started, and the links of the other
# ports are taken away. (A port left without a link still opens the machine's /dev/ttyS<n-1> if
# there is one: Wine's default devices. The scenarios' empty ports are COM3 and COM4, and the
# check says so when this machine has a device behind one of them.) Started here rather than from
# the host program, the server's own output does not land in the host's.
robot_port() {  # launcher, prefix, folder of the port paths, the robot's port (COM1..COM4)
  local launcher="$1" prefix="$2" ports="$3" port="$4" n
  [ "$(cat "$prefix/robot-port" 2>/dev/null)" != "$port" ] || return 0
  "$launcher" reg delete 'HKLM\Software\Wine\Ports' /f >/dev/null 2>&1 || true
  reg_add "$launcher" 'HKLM\Software\Wine\Ports' /v "$port" /d "$ports/${port,,}"
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -p >/dev/null 2>&1
  "$launcher" cmd /c exit >/dev/null 2>&1 </dev/null || true
  for n in 1 2 3 4; do [ "COM$n" = "$port" ] || rm -f "$prefix/dosdevices/com$n"; done
  echo "$port" >"$prefix/robot-port"
}
reg_add() { local launcher="$1"; shift; "$launcher" reg add "$@" /f >/dev/null; }

# The spooler as the scenario's machine has it: the printers serve lists in printers.txt (the
# world's spooler, in its order), each on its port, and every port but FILE: mapped to the spool
# script (HKCU\Software\Wine\Printing\Spooler: a value "|command" makes Wine's spooler pipe each
# finished job for that port into the command). The opening of printers, the printer list and the
# documents are Wine's own; only the drivers' printer-data answers stand in (printer_data.c of
# rovane-host.exe asks serve). The last scenario's printers and ports go first.
machine_printers() {  # launcher, prefix, printers.txt
  local launcher="$1" prefix="$2" list="$3" name port driver attributes
  local reg="$prefix/printers.reg" key='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Printers'
  local spooler='HKEY_CURRENT_USER\Software\Wine\Printing\Spooler'
  {
    printf 'REGEDIT4\r\n\r\n[-%s]\r\n\r\n[%s]\r\n\r\n[-%s]\r\n\r\n[%s]\r\n' "$key" "$key" "$spooler" "$spooler"
    while IFS=$'\t' read -r name port driver attributes; do
      [ "$name" = end ] && break
      [ "$port" = FILE: ] || printf '"%s"="|/bin/sh %s \x27%s\x27"\r\n' "$port" "$prefix/spool.sh" "$port"
    done <"$list"
    while IFS=$'\t' read -r name port driver attributes; do
      [ "$name" = end ] && break
      printf '\r\n[%s\\%s]\r\n"Name"="%s"\r\n"Port"="%s"\r\n"Printer Driver"="%s"\r\n' "$key" "$name" "$name" "$port" "$driver"
      printf '"Attributes"=dword:%08x\r\n"Print Processor"="WinPrint"\r\n"Datatype"="RAW"\r\n' "$attributes"
    done <"$list"
  } >"$reg"
  "$launcher" regedit /S "$(windows_path "$reg")" >/dev/null 2>&1
}

# The settings file as the last session left it: the recorders' places by serial number (unless
# the machine has none stored), and the machine's settings keys.
settings_file() {  # units.txt, flags...
  local units="$1" unit letter position serial i
  shift
  local flags=("$@")
  printf '[PORTS]\r\n'
  if ! has_flag --no-stored-serials "${flags[@]}"; then
    while read -r unit letter position serial; do
      [ "$unit" = end ] && break
      printf 'Drive%dSerial=%s\r\n' "$(($(printf '%d' "'$position") - 64))" "$serial"
    done <"$units"
  fi
  for ((i = 0; i + 1 < ${#flags[@]}; i++)); do
    [ "${flags[$i]}" = --setting ] && printf '%s\r\n' "${flags[$((i + 1))]}"
  done
  return 0
}

# wine_runs LAUNCHER WHAT: true when this machine can start LAUNCHER (/usr/lib/wine/wine for
# i686, wine64 for x86-64); else prints "WHAT: skipped: ..." with the reason and returns 1. A kernel
# without IA-32 emulation cannot run 32-bit programs: never assumed, asked each time.
wine_runs() {
  local launcher="$1" what="$2" err
  err="$(mktemp)"
  if "$launcher" --version >/dev/null 2>"$err"; then
    rm -f "$err"
    return 0
  fi
  echo "$what: skipped: $launcher cannot run on this machine ($(head -c 200 "$err" | tr '\n' ' '))"
  echo "  (a kernel without IA-32 emulation cannot run 32-bit programs, so 32-bit Wine cannot start)"
  rm -f "$err"
  return 1
}
