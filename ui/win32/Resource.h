// Identifiers of the Windows build's resources and of the settings window's
// controls. Shared by the resource script, the view and the tests that drive
// the window with messages. Numeric boxes are an edit (its identifier) with an
// up-down beside it (the identifier + 1).
#pragma once

#define IDI_SONAVEL 100
#define IDB_LOGO 101
#define IDR_COMCTL6 2  // the manifest that selects common controls 6

#define IDD_CONFIG 200
#define IDD_PAGE_MAIN 201
#define IDD_PAGE_SURROUND 202
#define IDD_PAGE_HEADPHONES 203
#define IDD_PAGE_ROOM 204
#define IDD_PAGE_SYSTEM 205
#define IDD_PAGE_ABOUT 206
#define IDD_ABOUT 210

// The window (OK and Cancel are IDOK and IDCANCEL).
#define IDC_TABS 1000
#define IDC_DEFAULT 1001
#define IDC_APPLY 1002
#define IDC_STATUS 1003

// Main
#define IDC_MODE 1010
#define IDC_LINK_MAIN 1011
#define IDC_MASTER_GAIN 1012

// Surround
#define IDC_SURR_MUSIC 1020
#define IDC_SURR_MOVIE 1021
#define IDC_SURR_DELAY_MUSIC 1022
#define IDC_CENTRE_WEIGHT 1024
#define IDC_MUSIC_SHELF 1026
#define IDC_SURR_DELAY_MOVIE 1028
#define IDC_CW_L 1030
#define IDC_CW_ARROW_L 1031
#define IDC_CW_C 1032
#define IDC_CW_ARROW_R 1033
#define IDC_CW_R 1034

// Headphones
#define IDC_HP_MUSIC 1040
#define IDC_HP_MOVIE 1041
#define IDC_DECODE_MUSIC 1042
#define IDC_DECODE_MOVIE 1043
#define IDC_LINK_HP_MUSIC 1044
#define IDC_LINK_HP_MOVIE 1045

// Room: delays and trims in the order L, R, C, Sub, SL, SR
#define IDC_DELAY_L 1050
#define IDC_DELAY_R 1052
#define IDC_DELAY_C 1054
#define IDC_DELAY_SUB 1056
#define IDC_DELAY_SL 1058
#define IDC_DELAY_SR 1060
#define IDC_TRIM_L 1070
#define IDC_TRIM_R 1072
#define IDC_TRIM_C 1074
#define IDC_TRIM_SUB 1076
#define IDC_TRIM_SL 1078
#define IDC_TRIM_SR 1080
#define IDC_LFE_REDIR 1090
#define IDC_LFE_CUTOFF 1092
#define IDC_LFE_INVERT 1094

// System
#define IDC_SLAVE_FILE 1100
#define IDC_SLAVE_SELECT 1101
#define IDC_SLAVE_CONFIGURE 1102
#define IDC_SLAVE_ABOUT 1103
#define IDC_PRECISION 1104
#define IDC_SSE2 1105
#define IDC_SSE2_LABEL 1106
#define IDC_CUDA 1107
#define IDC_CUDA_LABEL 1108
#define IDC_SHOW_ICON 1109
#define IDC_SHOW_ICON_PLAYING 1110
#define IDC_SHOW_DECODER_INACTIVE 1111

// About (the tab's and the box's texts)
#define IDC_ABOUT_LOGO 1120
#define IDC_ABOUT_DESCRIPTION 1121
#define IDC_ABOUT_COPYRIGHT 1122
#define IDC_ABOUT_WEB 1123
#define IDC_ABOUT_BUILT 1124
#define IDC_ABOUT_PANEL 1125

// The notification icon's menu: "Configuration", then the modes 0..4.
#define IDM_CONFIGURATION 1200
#define IDM_MODE_FIRST 1210

// The notification icon's callback message to the window.
#define WM_SONAVEL_ICON (WM_APP + 1)
