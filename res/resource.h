// Identifiers shared by the resource script and the program.
#pragma once

// Tool-band controls.
#define IDC_TRANSPARENT_CHECK 301
#define IDC_COLOUR_LABEL 303
#define IDC_EMPTY_STATIC 304

// Menu commands.
#define IDM_OPEN 40001
#define IDM_SAVE 40002
#define IDM_EXIT 40003
#define IDM_README 40004
#define IDM_VERSION 40005

// Named and numbered resources.
#define IDI_APP_ICON 103
#define MENU_NAME "MYMENU"
#define ABOUT_DIALOG_NAME "VDG"
#define ABOUT_BITMAP_NAME "CBIT"
#define DROPPER_CURSOR_NAME "CCUR"
#define ACCELERATORS_NAME "MYKEYS"
