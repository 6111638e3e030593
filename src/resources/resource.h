// Identifiers of the module's resources: string table entries, dialog templates and the
// controls inside them. Plain #defines, shared by the module's code, the resource script
// (rovane.rc) and the simulated world, which reads the same tables.
#ifndef ROVANE_RESOURCE_H
#define ROVANE_RESOURCE_H

// The module's version, as the log, the About box and the DLL's version information show it.
#define ROVANE_VERSION_TEXT "2.3.3 (for Fenwit)"
#define ROVANE_VERSION_NUMBERS 2, 3, 3, 0

// ---------------------------------------------------------------------------------------------
// String table (texts in strings.inc).
#define IDS_RECORDER_ROW 101             // "Recorder at Host:%d ID:%d   " + vendor/model
#define IDS_NO_RECORDERS 102
#define IDS_SELECT_ONE_DRIVE 103
#define IDS_INPUT_EMPTY 105
#define IDS_PRINTER_ERROR 106
#define IDS_SYSTEM_ERROR 107
#define IDS_NOT_PICKED 108
#define IDS_PAUSED 109
#define IDS_TOO_MANY_RECORDERS 110
#define IDS_MORE_THAN_INSTALLED 111
#define IDS_SELECT_ONE_MORE 113
#define IDS_WRONG_DRIVE_COUNT 114
#define IDS_UNIT_SHOULD_HAVE 115
#define IDS_RECORDER_DRIVES_RETRY 116
#define IDS_PRINTER_TRAY_NOT_CLOSING 117
#define IDS_TITLE 118                    // "Optical Disc Duplicator", the caption of string messages
#define IDS_PRINTER_TRAY_NOT_OPENING 119
#define IDS_PRINTER_NOT_RESPONDING 120
#define IDS_COMM_IDLE 121
#define IDS_COMM_INPUT_EMPTY 122
#define IDS_COMM_PRINTER_ERROR 123
#define IDS_COMM_INVALID_COMMAND 124
#define IDS_COMM_SYSTEM_ERROR 125
#define IDS_COMM_NOT_PICKED 126
#define IDS_COMM_BUSY 127
#define IDS_COMM_WAITING_FOR_PRINTER 128
#define IDS_COMM_PAUSED 129
#define IDS_NO_RESPONSE 130
#define IDS_CANNOT_SAVE_SETTING 133
#define IDS_PORT_OPEN_PROBLEM 134
#define IDS_ROBOT_ERROR_AT_JOB_BEGIN 135
#define IDS_ROBOT_NOT_READY 136
#define IDS_PRINTER_ENUM_ERROR 138
#define IDS_PRINTER_ON_FILE_PORT 139
#define IDS_WAITING_FOR_PRINTING 140
#define IDS_ALREADY_HOLDING_DISC 141
#define IDS_DISC_LOST 142
#define IDS_MOVEMENT_ERROR 143
#define IDS_START_AT_INITIAL_BIN 144
#define IDS_NO_RECORDING_DRIVES 147
#define IDS_SURETHING_MISSING 148
#define IDS_CANNOT_PRINT_STD 149
#define IDS_SAVE_AND_EXIT_SURETHING 150
#define IDS_PRINTER_INFO_ERROR 151
#define IDS_INVALID_DRIVE_STRING 152
#define IDS_LAM_TRAY_ERROR 153
#define IDS_LAM_DISC_OUT 154
#define IDS_LAM_ROLLER_ERROR 155
#define IDS_LAM_RIBBON_EMPTY 156
#define IDS_LAM_RIBBON_MOVE_ERROR 157
#define IDS_LAM_DISC_JAM 158
#define IDS_LAM_HEATER_ERROR 159
#define IDS_LAM_RIBBON_INVALID 160
#define IDS_PRN_FILE_INVALID 161
#define IDS_PRINT_FILE_MISSING 162
#define IDS_USE_ALL_FOUR_BINS 163
#define IDS_LAM_COVER_OPEN 164
#define IDS_TRAY_OPEN_ERROR 165
#define IDS_TRAY_CLOSE_ERROR 166
#define IDS_NO_EXTERNAL_DRIVES 167

// ---------------------------------------------------------------------------------------------
// Dialog templates (dialogs.inc).
#define IDD_CHOOSE_TWO_DRIVES 101
#define IDD_ROBOT_MESSAGE 117
#define IDD_MOVEMENTS 118
#define IDD_OPTIONS 119
#define IDD_MOVE_TEST 120
#define IDD_CHOOSE_FOUR_DRIVES 121
#define IDD_SELECT_PRINTER 122
#define IDD_PRINTING 124
#define IDD_LAMINATING 125
#define IDD_SELECT_UNIT 166

// A control that is never addressed (labels, frames).
#define IDC_STATIC (-1)

// Status message dialog.
#define IDC_MESSAGE_TEXT 1081
#define IDC_ABORT_JOB 1178

// Drive choice dialogs: per row i (0 to 7) the control is the first id + i.
#define IDC_DRIVES_OK 1001
#define IDC_DRIVES_CANCEL 1002
#define IDC_DRIVE_OPEN_CLOSE_FIRST 1108
#define IDC_DRIVE_PROMPT 1116
#define IDC_DRIVE_HINT 1117
#define IDC_DRIVE_LEFT_FIRST 1119
#define IDC_DRIVE_RIGHT_FIRST 1127
#define IDC_LEFT_HEADING 1135
#define IDC_RIGHT_HEADING 1136
#define IDC_DRIVE_ROW_TEXT_FIRST 1137
#define IDC_DRIVE_RIGHT_TOP_FIRST 1145
#define IDC_DRIVE_RIGHT_BOTTOM_FIRST 1153
#define IDC_DRIVE_LEFT_TOP_FIRST 1162
#define IDC_DRIVE_LEFT_BOTTOM_FIRST 1170
#define ROVANE_DRIVE_ROWS 8

// Movements dialog.
#define IDC_TEST_PRINTER 1092
#define IDC_TEST_RECORDER 1093
#define IDC_START_TEST 1094
#define IDC_TEST_DISC_COUNT 1095
#define IDC_TEST_DISC_SPIN 1096
#define IDC_RESET_ROBOTICS 1104
#define IDC_TEST_DISCS_LABEL 1107
#define IDC_TEST_LAMINATOR 1195

// Multiple disc move test dialog.
#define IDC_TEST_TOTAL 1101
#define IDC_TEST_REMAINING 1102

// Options and services dialog.
#define IDC_CHECK_COMMUNICATIONS 1078
#define IDC_CONTROL_PORT 1080
#define IDC_RECORD_PRINT 1105
#define IDC_ABOUT 1179
#define IDC_MINIMIZE_PRINT_DIALOG 1198
#define IDC_USE_LAMINATOR 1200
#define IDC_OPTIONS_PRINTER 1201
#define IDC_MOVE_TO_LAMINATOR 1202
#define IDC_RESELECT_DRIVES 1205

// Printer selection dialog.
#define IDC_PRINTER_LIST 1081
#define IDC_SELECT_USE_LAMINATOR 1197

// Printing dialog.
#define IDC_PRINTING_TEXT 1185
#define IDC_INK_FIRST_LABEL 1186
#define IDC_INK_SECOND_LABEL 1187
#define IDC_INK_FIRST_PERCENT 1188
#define IDC_INK_SECOND_PERCENT 1189
#define IDC_INK_FIRST_VALUE 1190
#define IDC_INK_SECOND_VALUE 1191
#define IDC_DISCS_BEFORE_LOW_LABEL 1192
#define IDC_DISCS_BEFORE_LOW 1193

// Laminating dialog.
#define IDC_LAMINATIONS_LEFT 1203
#define IDC_LAMINATING_STATUS 1204

// Unit selection dialog.
#define IDC_RESET_UNIT 1205
#define IDC_UNIT_LIST 1206

// ---------------------------------------------------------------------------------------------
// Control flags of the dialog templates (the last argument of each control line in
// dialogs.inc), combined with |. Their values are the window style bits they stand for.
#define ROVANE_HIDDEN 0x10000000   // created without WS_VISIBLE
#define ROVANE_DISABLED 0x08000000 // WS_DISABLED
#define ROVANE_GROUP 0x00020000    // WS_GROUP: starts a group (radio buttons)

#endif
