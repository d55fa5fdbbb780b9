#include "files/program_files_step.h"

#include <cstdio>

#include "files/oem_inf_removal.h"
#include "files/startup_file_editor.h"
#include "platform/win32/windows.h"
#include "resources/resource.h"

namespace {

// The remover's command line holds the Windows directory twice and
// "\UINQ76D.EXE " once; with the terminator it must fit MAX_PATH bytes.
constexpr UINT kLongestWindowsDirectory = (MAX_PATH - 14) / 2;  // 123

}  // namespace

void RemoveProgramFiles(UninstallProgress& progress) {
  RemoveOemInfFiles();

  char windows_dir[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryA(windows_dir, sizeof windows_dir);
  // 0 is a failure and a value of MAX_PATH or more the size a longer answer
  // would need; a directory too long for the command line is not cut short,
  // since a cut line would start the remover on the wrong directory.
  if (length != 0 && length <= kLongestWindowsDirectory) {
    char command_line[MAX_PATH];
    const int written = std::snprintf(command_line, sizeof command_line, "%s\\UINQ76D.EXE %s",
                                      windows_dir, windows_dir);
    if (written > 0 && static_cast<size_t>(written) < sizeof command_line)
      EditStartupFileLine("UINQ76D.EXE", command_line, "C:\\AUTOEXEC.BAT");
  }

  progress.StepProgress();
  progress.CheckItem(IDC_ITEM_FILES);
}
