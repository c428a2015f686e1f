// Identifiers of the Win32 window's resources and controls, shared by the
// resource script and the code. The controls keep the numbers that the Qt
// window's object names carry.
#ifndef MORAVINE_WINUI_RESOURCE_H_
#define MORAVINE_WINUI_RESOURCE_H_

#define IDD_MAIN 102
#define IDD_OPTIONS 136
#define IDD_ABOUT 100
#define IDD_ERROR 137

#define IDI_MORAVINE 1
#define IDI_DRIVE 11
#define IDI_FOLDER 12
#define IDI_FOLDER_OPEN 13
#define IDI_DOCUMENT 14
#define IDI_COMPRESSED 15
#define IDI_BOTH 16

#define IDC_RESULTS 1005
#define IDC_TREE 1007
#define IDC_COMPRESS 1008
#define IDC_DECOMPRESS 1009
#define IDC_OPTIONS 1010
#define IDC_SEARCH 1011
#define IDC_CANCEL_BATCH 1012
#define IDC_REMOVE_COMPRESSED 1013
#define IDC_PROGRESS 1014
#define IDC_STATUS 1015
#define IDC_ALLOW_ERRORS 1016
#define IDC_SEARCH_WORD 1017
#define IDC_SEARCH_LABEL 1018
#define IDC_ERRORS_LABEL 1019
#define IDC_REMOVE_ORIGINAL 1020
#define IDC_VIEW_LOG 1021
#define IDC_IGNORE_CASE 1024
#define IDC_EXIT 1025
#define IDC_HELP_BUTTON 57670

// The Options dialog.
#define IDC_DISTANCE_LABEL 1023
#define IDC_DISTANCE 1022
#define IDC_SPACELESS 1026
#define IDC_UNICODE 1027
#define IDC_LIMIT_LABEL 1028
#define IDC_LIMIT 1029

// The About box and the error box.
#define IDC_ABOUT_ICON 1030
#define IDC_VERSION 1031
#define IDC_MESSAGE 1032
#define IDC_QUIET 1033

#define IDM_ABOUT 40001

#endif  // MORAVINE_WINUI_RESOURCE_H_
