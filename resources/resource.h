// Resource ids of the program: the string table, the progress dialog, its
// controls and the icons. Read by the resource script and by the program code.
#pragma once

#define IDR_MAINFRAME 128
#define IDI_PRODUCT 129

#define IDD_UNINSTALL 102

#define IDC_ITEM_STARTMENU 1001
#define IDC_ITEM_DOSPROFILE 1002
#define IDC_ITEM_HARDWARE 1003
#define IDC_ITEM_REGISTRY 1004
#define IDC_ITEM_FILES 1005
#define IDC_PROGRESS 1006
#define IDC_MESSAGE 1007
#define IDC_STATIC (-1)

#define IDS_NOT_INSTALLED 59142
#define IDS_SHUTDOWN_NOTICE 59143
#define IDS_CONFIRM 59144
#define IDS_CAPTION 59146
#define IDS_INF_MARKER 59147
