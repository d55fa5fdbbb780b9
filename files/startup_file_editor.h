// Puts one line into a startup file such as C:\AUTOEXEC.BAT.
#pragma once

#include "platform/win32/windows.h"

// Replaces the first line that holds `key` (compared in capitals, after its
// leading spaces; lines beginning "REM " are passed over unless the key does)
// with `new_line`, or adds `new_line` after the last line when none holds the
// key. Lines passed before the replaced one are written back without their
// leading spaces and in capitals; the rest of the file is copied unchanged.
// The new copy is written into a temporary beside the file (the path cut at
// its first '.', then ".@@@"), flushed to the disk, and put in the file's
// place (replaceFileWithCopy: one atomic step where the system has one; on
// Windows 95 delete, then rename). Returns 1 when the file holds the edited
// text; 0 when the edit failed, leaving the file as it was (and the
// temporary, once created, on the disk), except that a rename failing after
// Windows 95's delete leaves the edited text in the temporary alone. A key of
// 128 characters or more or a path of more than 255 fail at once.
int EditStartupFileLine(LPCSTR key, LPCSTR new_line, LPCSTR path);

// Removes the leading spaces (code 32 only) of a zero-terminated line in place.
void StripLeadingSpaces(LPSTR line);
