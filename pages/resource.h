// Resource identifiers of the module: page titles, page dialogs and their controls.
// Kept to plain #defines so that the resource compiler can read it too.
#ifndef QUILLON_PAGES_RESOURCE_H
#define QUILLON_PAGES_RESOURCE_H

// String table: page titles.
#define IDS_CAMERA_SET_TITLE 1
#define IDS_FORMAT_TITLE 2

// Dialogs.
#define IDD_CAMERA_SET_PAGE 102   // empty page dialog that hosts the settings dialog
#define IDD_CAMERA_SETTINGS 103   // the camera settings controls
#define IDD_FORMAT_PAGE 104       // resolution choice

// Camera settings dialog (103).
#define IDC_RESTART 1000
#define IDC_AE_ENABLE 1006
#define IDC_AE_TARGET 1007
#define IDC_ANALOG_GAIN 1008
#define IDC_EXPOSURE_TIME 1009
#define IDC_AUTO_WHITE_BALANCE 1010
#define IDC_ENHANCEMENT_ENABLE 1011
#define IDC_SATURATION 1012
#define IDC_CONTRAST 1013
#define IDC_GAMMA 1014
#define IDC_BLUE_GAIN 1015
#define IDC_GREEN_GAIN 1016
#define IDC_RED_GAIN 1017
#define IDC_SPEED_NORMAL 1018
#define IDC_SPEED_HIGH 1019
#define IDC_LIGHT_50HZ 1020
#define IDC_LIGHT_60HZ 1021
#define IDC_HORIZONTAL_FLIP 1022
#define IDC_VERTICAL_FLIP 1023
#define IDC_MONO 1024
#define IDC_BLACK_LEVEL 1025
#define IDC_DEFAULTS 1034
#define IDC_AE_TARGET_TEXT 1035
#define IDC_ANALOG_GAIN_TEXT 1036
#define IDC_EXPOSURE_TIME_TEXT 1037
#define IDC_RED_GAIN_TEXT 1038
#define IDC_GREEN_GAIN_TEXT 1039
#define IDC_BLUE_GAIN_TEXT 1040
#define IDC_GAMMA_TEXT 1041
#define IDC_CONTRAST_TEXT 1042
#define IDC_SATURATION_TEXT 1043
#define IDC_BLACK_LEVEL_TEXT 1044

// Format dialog (104): one radio button per resolution index.
#define IDC_RESOLUTION_3032 1045
#define IDC_RESOLUTION_1600 1046
#define IDC_RESOLUTION_1280 1047
#define IDC_RESOLUTION_800 1048
#define IDC_RESOLUTION_640 1049

#endif
