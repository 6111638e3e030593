#!/usr/bin/env bash
# Writes the seed corpus of the fuzz targets, fuzz/corpus/<target>/, from the formats the module
# reads: real status frames, version replies, recorder lists, GET CONFIGURATION replies and
# storage descriptors, print file headers, ink answers, laminator records and settings files,
# the edge cases among them. The files are checked in; run this again after changing it (it
# rewrites the files it makes and leaves any others, such as kept reproducers, alone).
set -euo pipefail
cd "$(dirname "$0")/corpus"

# put FILE BYTES...: writes the bytes, each given as two hex digits.
put() {
  local file="$1"
  shift
  mkdir -p "$(dirname "$file")"
  local escaped=""
  for b in "$@"; do escaped+="\\x$b"; done
  printf "$escaped" >"$file"
}
# text: the hex bytes of a text.
text() { printf '%s' "$1" | od -An -v -tx1; }
# repeat N HEX: N times the byte.
repeat() { local i; for ((i = 0; i < $1; i++)); do printf '%s ' "$2"; done; }
# frame STATE POSITION AUX ERROR PRINTER TRAY PICKER [LENGTH]: a status frame with its checksum.
frame() {
  local length="${8:-10}"
  local bytes=(53 "$(printf '%02x' "$length")")
  local c
  for c in "$1" "$2" "$3" "$4" "$5" "$6" "$7"; do bytes+=("$(printf '%02x' "'$c")"); done
  local sum=0 i
  for ((i = 0; i < length - 1 && i < 9; i++)); do sum=$(((sum + 16#${bytes[$i]}) % 256)); done
  printf '%s ' "${bytes[@]}" "$(printf '%02x' "$sum")" 24
}

# --- status frames: the bytes the port delivers after "_SI" ----------------------------------
put status_frame/idle $(frame I A 0 . I I X)
put status_frame/busy_holding_disc $(frame B 4 0 . B O O)
put status_frame/error_input_empty $(frame I 4 0 A I I X)
put status_frame/garbage_then_frame $(text $'\x01zz$$q') $(frame W S 7 . B O O)
put status_frame/dollar_among_first_ten $(text 'S$') $(frame I G 0 . I I X)
put status_frame/bad_checksum_then_good 53 0a 49 41 30 2e 49 49 58 00 24 $(frame P A 0 . I I X)
put status_frame/length_zero $(frame I A 0 . I I X 0)
put status_frame/length_eleven_refused 53 0b 49 41 30 2e 49 49 58 7a 24
put status_frame/buffer_overflow $(repeat 85 78) $(frame I A 0 . I I X)
put status_frame/two_frames $(frame B E 0 . B X O) $(frame I E 0 . I I X)

# --- version replies: the bytes after "_SV" --------------------------------------------------
put version_reply/qix_four_drives $(text $'ZORVIK QIX VERSION:R 1.13 A\r\n')
put version_reply/qix_two_drives $(text $'ZORVIK QIX VERSION:R 1.20 E\r\n')
put version_reply/older_two_drives $(text $'DUPLICATOR VERSION:N 1.05 2\r\n')
put version_reply/older_then_qix $(text $'VERSION:Q 1.00 Y\r\nVERSION:R 2.0 D\r\n')
put version_reply/model_in_second_character $(text $'VERSION: R1.13 F\r\n')
put version_reply/short_line $(text $'ION:\r\n') $(text $'xION:R\r\n')
put version_reply/no_model $(text $'HELLO ROBOT\r\nVERSION:X 1.0 A\r\n')
put version_reply/longer_than_buffer $(repeat 70 2e) $(text $'VERSION:R 2.0 B\r\n')
put version_reply/nul_inside 00 $(text $'ION:R 1.13 A\r\n')

# --- recorder lists: the host's text (NUL bytes are its own) ----------------------------------
put recorder_list/four_external $(text $'0,0,4,0,E,PIONEER DVD-RW  DVR-112D\r\n1,0,4,1,F,PIONEER DVD-RW  DVR-112D\r\n2,0,121,0,G,HL-DT-ST DVDRAM GH22NS50\r\n3,0,121,1,H,HL-DT-ST DVDRAM GH22NS50\r\n')
put recorder_list/one_internal $(text $'0,0,1,0,D,TSSTcorp CDDVDW SH-S223C\r\n')
put recorder_list/embedded_nul 00 $(text $'0,0,4,0,E,PIONEER DVD-RW DVR-112D\r\n')
put recorder_list/last_line_after_nul $(text $'0,0,4,0,E,PIONEER\r\n1,0,4,1,F,PIONEER') 00 $(text $'\r\n')
put recorder_list/no_line_feed $(text '0,0,4,0,E,PIONEER DVD-RW DVR-112D')
put recorder_list/not_a_recorder $(text $'x,0,4,0,E,NAME\r\n-1,+2, 3,\t4,F,\r\n99999999999,0,0,0,G,BIG\r\n')
put recorder_list/no_carriage_return $(text $'0,0,4,0,E,NAME\n1,0,4,1,F,NAME\r\n')
put recorder_list/long_name $(text "0,0,4,0,E,$(printf 'N%.0s' {1..300})") 0d 0a
lines=""
for i in $(seq 0 19); do lines+="$i,0,4,$i,E,RECORDER $i"$'\r\n'; done
put recorder_list/twenty_lines $(text "$lines")

# --- serial numbers: a GET CONFIGURATION reply / a storage device descriptor -----------------
# Reply: header (data length in byte 3), feature 0x0108, version, additional length, the text.
sdk() { printf '00 00 00 %02x 00 00 00 00 01 %s 03 %02x ' $((8 + ${#2})) "$1" "${#2}"; text "$2"; }
put recorder_serial/sdk_serial $(sdk 08 'K1234567890') $(repeat 77 00)
put recorder_serial/sdk_leading_blank $(sdk 08 '  A12') $(repeat 83 00)
put recorder_serial/sdk_other_feature $(sdk 09 'K1234567890') $(repeat 77 00)
put recorder_serial/sdk_longest $(sdk 08 "$(printf 'S%.0s' {1..88})")
put recorder_serial/sdk_short 00 00 00 08 00 00 00 00 01 08
# Descriptor: version, size, device type ..., vendor/product/revision/serial offsets at 12..27.
put recorder_serial/descriptor_serial 28 00 00 00 38 00 00 00 05 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 28 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 $(text ' 5A3B2C1D ') 00 00 00 00 00 00
put recorder_serial/descriptor_no_serial 28 00 00 00 28 00 00 00 05 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 ff ff ff ff 00 00 00 00 00 00 00 00 00 00 00 00
put recorder_serial/descriptor_offset_outside 28 00 00 00 20 00 00 00 05 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00
put recorder_serial/descriptor_unterminated 1c 00 00 00 1e 00 00 00 05 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 1c 00 00 00 41 42

# --- print files: a print file's content ------------------------------------------------------
pad() { repeat "$1" 00; }
put print_file/pellan_iv 1b 00 ff 00 01 00 00 00 1b 00 fe 00 10 00 00 20 00 00 30 00 00 10 00 00 00 00 00 00 00 00 00 00 $(pad 16)
put print_file/pellan_pro 1b 03 ff 00 02 00 00 00 1b 03 fe 00 10 00 00 20 00 00 30 00 00 10 00 00 00 40 00 00 20 00 00 00 $(pad 16)
put print_file/optical_disc_printer 1b 07 02 4b 53 31 30 $(pad 25)
put print_file/optical_disc_printer_after_00 1b 00 02 4b 53 31 30 $(pad 25)
put print_file/varrow_05 1b 05 1e $(pad 29)
put print_file/varrow_06 1b 06 0e $(pad 29)
put print_file/varrow_second 1b 07 99 $(pad 29)
put print_file/tessik_6 1b 08 0e 00 00 00 00 10 00 00 00 08 00 00 $(pad 18) $(pad 40) 1b 08 00 00 00 00 10 00 00 20 00 00 30 00 00 40 00 00 00 00 00 00 00 00
put print_file/tessik_6_short 1b 08 0e $(pad 29)
put print_file/thirty_one_bytes 1b 00 ff 00 01 00 00 00 1b 00 fe $(pad 20)
put print_file/not_escape $(text 'PK') $(pad 30)
put print_file/label_name $(text 'C:\Labels\Disc label.STD')
put print_file/prn_name_with_blank $(text 'C:\Jobs\LABEL.PRN ')
put print_file/dotted_folder $(text 'C:\Jobs.old\LABEL')

# --- ink answers: flags (1 "Tessik 6", 2 photo driver), answer length, answer, print file -----
answer_other() { # cartridge byte, four counters (hex words): a 25-byte answer
  printf '00 17 %s 00 %s %s %s %s 00 00 00 00 00' "$1" "$2" "$3" "$4" "$5"
}
put ink_answer/colour_black 00 19 $(answer_other 02 '05 f5 e1 00' '14 dc 93 80' '00 00 00 00' '01 00 00 00') \
  1b 03 ff 00 02 00 00 00 1b 03 fe 00 10 00 00 20 00 00 30 10 00 00 00 00 00 40 00 00 20 00 00 00
put ink_answer/black_only 00 19 $(answer_other 00 '00 00 00 00' '00 00 00 00' '00 00 00 00' '01 00 00 00') \
  1b 00 ff 00 00 00 00 00 1b 00 fe 00 10 00 00 00 00 00 00 00 20 00 00 00 00 00 00 00 00 00 00 00
put ink_answer/invalid_cartridge 00 19 $(answer_other 04 '00 00 00 01' '00 00 00 02' '00 00 00 03' '00 00 00 04')
put ink_answer/wrong_length_byte 00 19 00 18 02 $(pad 22)
put ink_answer/too_short 00 18 00 16 02 $(pad 21)
tessik() { # cartridge byte, warnings, six counters, error byte: a 64-byte answer
  printf '00 3e 00 %s %s %s' "$1" "$2" "$3"
  printf ' %s' $(pad 33)
  printf ' %s 00' "$4"
}
put ink_answer/tessik_colour_black 01 40 $(tessik 03 00 '00 00 00 10 00 00 00 20 00 00 00 30 00 00 00 40 00 00 00 00 00 00 00 00' 00) \
  1b 08 0e 00 00 00 10 00 00 00 10 00 00 00 $(pad 18) 1b 08 00 00 00 00 10 00 00 20 00 00 30 00 00 40 00 00 00 00 00 00 00 00
put ink_answer/tessik_both_low 01 40 $(tessik 04 03 '00 00 00 10 00 00 00 20 00 00 00 30 00 00 00 00 00 00 00 00 00 00 00 00' 10) \
  1b 08 0e 00 00 00 10 00 00 00 10 00 00 00 $(pad 18) 1b 08 00 00 00 00 10 00 00 20 00 00 30 00 00 40 00 00 50 00 00 60 00 00
put ink_answer/tessik_photo_driver 03 40 $(tessik 03 01 '00 00 00 10 00 00 00 20 00 00 00 30 00 00 00 00 00 00 00 00 00 00 00 00' 00)
put ink_answer/tessik_short_answer 01 19 00 17 00 03 01 $(pad 20)
put ink_answer/longest_answer 00 64 00 62 02 $(pad 97)

# --- laminator records (80 bytes) and firmware texts -------------------------------------------
# lam BLENGTH STATE TRAY LASTCMD ERROR RIBBON(3 hex bytes): a record with its checksum.
lam() {
  local bytes=(01 "$1" 00 00 00 00 00 00 00)
  bytes+=($(text 'LAM FW 1.13    '))
  bytes+=(00 00 00 "$4" "$5" "$(printf '%02x' "'$2")" "$(printf '%02x' "'$3")" 00 48 00 00 00 00 00 00 00 00 $6)
  while ((${#bytes[@]} < 78)); do bytes+=(00); done
  local sum=0 i count=$((16#$1 > 1 ? 16#$1 - 1 : 0))
  for ((i = 1; i <= count && i < 78; i++)); do sum=$(((sum + 16#${bytes[$i]}) % 256)); done
  printf '%s ' "${bytes[@]}" "$(printf '%02x' "$sum")" 04
}
put laminator_status/ready_tray_in $(lam 4e I I 80 00 '0c 5c 10')
put laminator_status/busy_tray_out_disc $(lam 4e B W 81 00 '00 1a 5e')
put laminator_status/cover_open_error $(lam 4e C O 82 08 '00 00 00')
put laminator_status/length_one $(lam 01 I I 83 00 'ff ff ff')
put laminator_status/length_past_record $(lam ff I I 80 00 '00 00 01')
put laminator_status/state_w_refused $(lam 4e W I 80 00 '00 00 00')
put laminator_status/seventy_nine_bytes $(lam 4e I I 80 00 '00 00 00' | cut -d' ' -f1-79)
put laminator_status/firmware_1_13 $(text 'R 1.13 A')
put laminator_status/firmware_1_9 $(text 'R 1.9 A')
put laminator_status/firmware_after_letter $(text 'R1.20')
put laminator_status/firmware_octal_hex $(text 'V 010.0x1f')

# --- settings: the settings file, then after a NUL the registry value DataPath -----------------
put settings/typical $(text $'[PORTS]\r\nCom=COM3\r\nPrinter=Pellan PRO Disc Printer\r\nDrive1Serial=SER-A\r\nDrive2Serial=SER-B\r\nDrive3Serial=SER-C\r\nDrive4Serial=SER-D\r\nLaminate Disc=1\r\nRecord-Print=1\r\nMinimize PrintDlg=0\r\n') 00 $(text 'C:\ProgramData\Marlune\') 00
put settings/lower_case_port $(text $'[ports]\r\ncom = com3 \r\nRecord-Print=-1\r\nMinimize PrintDlg=0x10\r\n')
put settings/optical_disc_printer $(text $'[PORTS]\nPrinter="Optical Disc Printer 2"\nDrive1Serial=SER-A\nDrive2Serial=\nRecord-Print= 0b101\n;Com=COM2\n')
put settings/data_path_unterminated $(text $'[PORTS]\r\nCom=COM5\r\n') 00 $(text 'C:\Data')
put settings/data_path_too_long $(text $'[PORTS]\r\n') 00 $(repeat 251 41)
put settings/no_section_close $(text $'[PORTS\r\nCom=COM2\r\n[OTHER]\r\nCom=COM4\r\n')
