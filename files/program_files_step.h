// The third uninstall step: the product's setup-information files go, and the
// DOS-side remover is scheduled in C:\AUTOEXEC.BAT for the next start.
#pragma once

#include "progress/uninstall_progress.h"

// Deletes the marked OEM*.INF files, places the line
// "<windows>\UINQ76D.EXE <windows>" in C:\AUTOEXEC.BAT, then advances
// `progress` by one step and checks the files item, whatever became of the
// removals.
void RemoveProgramFiles(UninstallProgress& progress);
