// Resource and control IDs of the removal tool, shared by its resource script and its code.
#pragma once

#define IDI_APPLICATION_ICON 102
#define IDI_SMALL_ICON 103

#define IDD_MAIN_DIALOG 101
#define IDD_ABOUT_BOX 203
#define IDM_MAIN_MENU 203

#define IDC_REMOVE 1001
#define IDC_HIDE 1002
#define IDC_STATUS_BAR 1003
#define IDC_ABOUT_TITLE 1004
#define IDC_HOMEPAGE 1005
#define IDC_USAGE 1006

#define IDM_VERSION_INFO 40001
