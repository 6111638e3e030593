# Sourced by the scripts that run programs under Wine (wine-check.sh, win32-conformance.sh).
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
