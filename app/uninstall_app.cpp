#include "app/uninstall_app.h"

#include <memory>

#include "product/product.h"
#include "resources/resource.h"
#include "ui/uninstall_dlg.h"

// The one application object; its constructor registers it with the toolkit.
CUninstallApp theApp;

BOOL CUninstallApp::InitInstance() {
  // The three-dimensional look is cosmetic: where a backend cannot give it,
  // start-up goes on without it.
  Enable3dControls();

  // Confirmation comes first: a user who declines is not told whether the
  // product is installed.
  if (ShowMessage(IDS_CAPTION, IDS_CONFIRM, MB_YESNO) == IDNO) return FALSE;

  if (!IsProductInstalled()) {
    ShowMessage(IDS_CAPTION, IDS_NOT_INSTALLED, MB_OK);
    return FALSE;
  }

  auto dialog = std::make_unique<CUninstallDlg>(nullptr);
  m_pMainWnd = dialog.get();
  dialog->DoModal();
  m_pMainWnd = nullptr;
  return FALSE;
}
