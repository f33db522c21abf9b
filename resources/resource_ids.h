// Resource numbers shared by the resource script and the program.
#pragma once

#define IDB_PANEL_SKIN 105
#define IDB_MAIN_SKIN 106
#define IDB_CLOSE_NORMAL 108
#define IDB_CLOSE_HOVER 109
#define IDB_CLOSE_PRESSED 110
#define IDC_PROGRAM_CURSOR 112
#define IDR_PANEL_SHAPE 113
#define IDR_MAIN_SHAPE 114
#define IDB_TAB_NORMAL 117
#define IDB_TAB_HOVER 118
#define IDB_TAB_PRESSED 119
#define IDR_TAB_SHAPE 122
#define IDB_THUMB_VERTICAL 124
#define IDB_THUMB_HORIZONTAL 125
#define IDB_METER_LIT 126
#define IDB_RESET_NORMAL 127
#define IDB_RESET_HOVER 128
#define IDB_RESET_PRESSED 129
#define IDB_KNOB_FACE 130
#define IDB_AUTO_NORMAL 134
#define IDB_AUTO_HOVER 135
#define IDB_AUTO_PRESSED 136
#define IDI_PROGRAM 32512
// Type of the region resources: the platform's region data as it is.
#define RT_REGION_DATA "BINARY"
