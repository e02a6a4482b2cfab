// Resource identifiers of the desktop program, shared by the resource script, the C++ code and the
// GUI test driver. The numbers are fixed: stored layouts and the tests depend on them. Grouped per
// dialog, in numeric order of the dialog.
#pragma once

// Labels, group boxes and other controls that the code never addresses.
#define IDC_STATIC -1

// --- Main window (dialog 101) ---
#define IDD_MAIN 101
#define IDC_MAIN_SOURCE_PATH 1002
#define IDC_MAIN_BROWSE_SOURCE 1003
#define IDC_MAIN_PASSPHRASE 1004
#define IDC_MAIN_ENCRYPT 1009
#define IDC_MAIN_DECRYPT 1010
#define IDC_MAIN_HIDE_PASSPHRASE 1024
#define IDC_MAIN_PASSPHRASE_REPEAT 1025
#define IDC_MAIN_METHOD_PASSPHRASE 1029
#define IDC_MAIN_METHOD_KEY_CODE 1030
#define IDC_MAIN_KEY_CODE 1031
#define IDC_MAIN_CREATE_KEY_CODE 1032
#define IDC_MAIN_BANNER 1037
#define IDC_MAIN_EXIT 1039
#define IDC_MAIN_METHOD_KEY_FILE 1040
#define IDC_MAIN_KEY_FILE_PATH 1041
#define IDC_MAIN_BROWSE_KEY_FILE 1042
#define IDC_MAIN_CREATE_PASSPHRASE 1063

// --- Progress (dialog 104) ---
#define IDD_PROGRESS 104
#define IDC_PROGRESS_CANCEL 1021
#define IDC_PROGRESS_STATUS 1022
#define IDC_PROGRESS_BAR 1023

// --- Program icon (icon group 105: 16, 32 and 64 pixels) ---
#define IDI_FERROLYN 105

// --- Entropy collection (dialog 106) ---
#define IDD_ENTROPY 106
#define IDC_ENTROPY_CONTINUE 1026
#define IDC_ENTROPY_COUNTER 1027

// --- Main menu (menu 107) and its commands; menus take the IDM_ prefix ---
#define IDM_MAIN_MENU 107
#define IDM_ABOUT 40010
#define IDM_EXIT 40011
#define IDM_ENCRYPTION_INFO 40015
#define IDM_CREATE_KEY_FILE 40017
#define IDM_SETTINGS 40019

// --- About (dialog 108) ---
#define IDD_ABOUT 108
#define IDC_ABOUT_OK 1033

// --- Banner (bitmap 110, 539 x 92 pixels) ---
#define IDB_BANNER 110

// --- Encryption information (dialog 111) ---
#define IDD_ENCRYPTION_INFO 111
#define IDC_INFO_CLOSE 1038
#define IDC_INFO_ALGORITHM 1051
#define IDC_INFO_IMPLEMENTATION 1052
#define IDC_INFO_ENTROPY_STAGE 1053
#define IDC_INFO_KEY_SPLITTING 1054
#define IDC_INFO_RANDOM_GENERATION 1055

// --- Create key file (dialog 112) ---
#define IDD_CREATE_KEY_FILE 112
#define IDC_KEY_FILE_CREATE 1043
#define IDC_KEY_FILE_COUNTER 1044
#define IDC_KEY_FILE_CANCEL 1045
#define IDC_KEY_FILE_BAR 1046

// --- Settings (dialog 113) ---
#define IDD_SETTINGS 113
#define IDC_SETTINGS_OK 1047
#define IDC_SETTINGS_CANCEL 1048
#define IDC_SETTINGS_COMPRESS 1049
#define IDC_SETTINGS_CIPHER 1050
