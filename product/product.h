// What start-up learns about the installed product, and the message boxes of
// the program.
#pragma once

#include "platform/win32/windows.h"

// The product's registry key name below SOFTWARE\Vesk; set by IsProductInstalled.
extern char ProductKeyName[20];
// The product title from the value "Title" of that key: at most 79
// characters and the terminating zero; empty until IsProductInstalled found it.
extern char ProductTitle[80];

// 1 when SOFTWARE\Vesk\KivraQ76 exists below HKEY_LOCAL_MACHINE and its value
// "Title" fits into ProductTitle with its terminating zero; otherwise 0, and
// ProductTitle is left empty.
int IsProductInstalled();

// Loads the caption and text strings and shows a message box owned by the
// window that has the keyboard focus (none if no window has it). Returns the
// button pressed (IDOK, IDYES, IDNO).
int ShowMessage(UINT caption_id, UINT text_id, UINT style);
