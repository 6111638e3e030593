#!/usr/bin/env bash
# Host scripts for the reader both host programs share, good and bad, written into DIR: each case
# as DIR/NAME.txt and a line of DIR/cases, "NAME<TAB>EXIT<TAB>EXPECTED": for a bad script (exit
# 1) the message after "SCRIPT:", for a good one (exit 0) what --check prints, its lines joined
# by " | ". Used by tests/tool/host_checks.sh (rovane-sim host) and scripts/wine-check.sh
# (rovane-host.exe --check against rovane-sim host --check).
#
#   tests/tool/host_script_cases.sh DIR
set -euo pipefail
dir="$1"
: > "$dir/cases"
# name, script (a printf format: \r \001 \xef ... are the bytes), exit, expected
add() {
  # shellcheck disable=SC2059
  printf "$2" > "$dir/$1.txt"
  printf '%s\t%s\t%s\n' "$1" "$3" "$4" >> "$dir/cases"
}
bad() { add "$1" "$2" 1 "$3"; }
good() { add "$1" "$2" 0 "$3"; }

# Numbers: decimal, within the export's argument.
bad unit-wraps 'init VeltoDVD\nmove 4294967297 100\n' \
  '2: move takes UNIT ACTION: UNIT 4294967297 is out of range (0 to 4294967295)'
bad discs-wrap 'job begin 1000000000000\n' \
  '1: job takes begin|end|abort|CODE N: N 1000000000000 is out of range (0 to 4294967295)'
bad unit-negative 'wait -1\n' '1: wait takes UNIT: UNIT -1 is out of range (0 to 4294967295)'
bad action-past-long 'move 1 2147483648\n' \
  '1: move takes UNIT ACTION: ACTION 2147483648 is out of range (-2147483648 to 2147483647)'
bad hexadecimal 'move 0x10 100\n' "1: move takes UNIT ACTION: UNIT '0x10' is not a decimal number"
bad plus-sign 'sleep +5\n' "1: sleep takes MS (milliseconds, at most a day): MS '+5' is not a decimal number"
bad sleep-past-a-day 'sleep 86400001\n' \
  '1: sleep takes MS (milliseconds, at most a day): MS 86400001 is out of range (0 to 86400000)'
bad code-hexadecimal 'job 0x4 3\n' "1: job takes begin|end|abort|CODE N: CODE '0x4' is not a decimal number"
bad discnum-huge 'moveprint 1 2000 99999999999999999999 a.prn\n' \
  '1: moveprint takes UNIT ACTION DISCNUM FILE: DISCNUM 99999999999999999999 is out of range (0 to 4294967295)'
bad services-word 'services kind 1\n' "1: services takes KIND CODE: KIND 'kind' is not a decimal number"
# Quotes and escapes.
bad unknown-escape 'init "Velto\\qDVD"\n' \
  "1: unknown escape '\\q' inside double quotes (known: \\r \\n \\t \\0 \\\" \\\\; outside quotes a backslash is an ordinary character)"
bad quote-open 'init "VeltoDVD\n' '1: a quote is not closed'
bad quote-ends-in-backslash 'init "VeltoDVD\\\n' '1: a quote is not closed'
bad control-byte 'init Velto\001DVD\n' \
  '1: a control character (byte 0x01) in column 11: write it as an escape (\r \n \t \0) inside double quotes'
bad nul-byte 'init "Velto\000DVD"\n' \
  '1: a control character (byte 0x00) in column 12: write it as an escape (\r \n \t \0) inside double quotes'
bad carriage-return-inside 'init Velto\rDVD\n' \
  '1: a control character (byte 0x0d) in column 11: write it as an escape (\r \n \t \0) inside double quotes'
# Calls and their arguments.
bad unknown-call 'bogus call\n' "1: unknown call 'bogus'"
bad mark-then-unknown '\xef\xbb\xbfinit VeltoDVD\r\nfoo\r\n' "2: unknown call 'foo'"
bad trailing-comment 'move 1 100 # load\n' '1: move takes UNIT ACTION'
bad end-with-word 'end now\n' '1: end takes no arguments'
bad answer-button 'answer "SureThing=MAYBE"\n' \
  "1: answer takes PATTERN=BUTTON [once]: unknown BUTTON 'MAYBE' (OK, CANCEL, RETRY, YES, NO, ABORT, IGNORE, ABORTJOB, PAUSEPICK, REFILL)"
bad answer-no-equals 'answer SureThing\n' "1: answer takes PATTERN=BUTTON [once]: no '=' in 'SureThing'"
bad answer-empty-pattern 'answer =OK\n' '1: answer takes PATTERN=BUTTON [once]: the PATTERN is empty'
bad answer-twice 'answer x=OK twice\n' "1: answer takes PATTERN=BUTTON [once]: 'twice' is not 'once'"
bad dialog-id-zero 'dialog 0 click 1\n' \
  '1: dialog takes ID ACTION[; ACTION...]: ID 0 is out of range (1 to 65535)'
bad dialog-action 'dialog 119 press 1\n' "1: unknown dialog action 'press' (click, check, uncheck, select, close)"
bad dialog-control 'dialog 119 click 70000\n' \
  '1: dialog takes ID ACTION[; ACTION...]: click takes CTRL: CTRL 70000 is out of range (0 to 65535)'
bad dialog-nothing 'dialog 119 ;\n' '1: dialog needs at least one action'
bad printfile-kind 'printfile a.prn pellan-v\n' \
  "1: printfile takes PATH KIND: unknown KIND 'pellan-v' (pellan-iv, pellan-pro, optical-disc-printer, varrow, varrow-2, tessik-6, label, short, wrong)"
bad printfile-no-path 'printfile "" label\n' '1: printfile takes PATH KIND: the PATH is empty'

# Good scripts, as read.
good windows-path 'printfile C:\\Labels\\a.PRN pellan-iv\n' '1 printfile "C:\\Labels\\a.PRN" pellan-iv'
good backslash-n-in-path 'printfile C:\\Labels\\new\\nx.PRN label\n' '1 printfile "C:\\Labels\\new\\nx.PRN" label'
good quoted-escapes 'init VeltoDVD "1,0,4,0,E,KESTREL\\t\\"DVD\\"\\\\\\0\\r\\n"\n' \
  '1 init "VeltoDVD" "1,0,4,0,E,KESTREL\t"DVD"\\\x00\r\n"'
good mark-and-crlf '\xef\xbb\xbfinit VeltoDVD\r\njob begin 010\r\n' '1 init "VeltoDVD" | 2 job begin 10'
good comments-and-blanks '  # a note\n\n\tmove 1 100\njob 4 3\n' '3 move 1 100 | 4 job 4 3'
good ranges 'move 4294967295 -2147483648\nsleep 86400000\nservices -2147483648 2147483647\n' \
  '1 move 4294967295 -2147483648 | 2 sleep 86400000 | 3 services -2147483648 2147483647'
good dialog-actions 'dialog 122 select 1081 "Pellan IV on LPT1:"; check 1197; click 1\n' \
  '1 dialog 122 select 1081 "Pellan IV on LPT1:"; check 1197; click 1'
good dialog-quoted-semicolon 'dialog 122 select 1081 "a;b;" ; close\n' '1 dialog 122 select 1081 "a;b;"; close'
good answers 'answer "a=b=ABORTJOB" once\nanswer "input bin is empty=REFILL"\nanswer COM2\\a=OK\n' \
  '1 answer "a=b" ABORTJOB once | 2 answer "input bin is empty" REFILL | 3 answer "COM2\\a" OK'
good accumulator 'checkaccumulator\n' '1 checkaccumulator'
bad accumulator-argument 'checkaccumulator 0\n' '1: checkaccumulator takes no arguments'
good print-lines 'validprint 2000 C:\\Labels\\a.prn\nmoveprint 1 2000 7 "C:\\\\Labels\\\\a.prn"\ncheckprinting\n' \
  '1 validprint 2000 "C:\\Labels\\a.prn" | 2 moveprint 1 2000 7 "C:\\Labels\\a.prn" | 3 checkprinting'
