// The application object: asks for confirmation, checks the installation and
// runs the progress dialog, which does all of the uninstall.
#pragma once

#include "platform/toolkit/afxwin.h"

class CUninstallApp final : public CWinApp {
 public:
  // Always FALSE: the program ends when the dialog (or a message box) has
  // ended, without an application message loop.
  BOOL InitInstance() override;
};
