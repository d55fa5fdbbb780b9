// The second uninstall step: the product's uninstall registration and its own
// registry key.
#include <cstdio>

#include "app/product.h"
#include "app/resource.h"
#include "registry/key_removal.h"
#include "ui/uninstall_dlg.h"

void CUninstallDlg::RemoveProgramRegistration() {
  char path[MAX_PATH];

  // With an empty title the path would name the Uninstall key itself, and with
  // it the registrations of every other program: that removal is skipped.
  if (ProductTitle[0] != '\0') {
    std::snprintf(path, sizeof path, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s",
                  ProductTitle);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
  }

  std::snprintf(path, sizeof path, "SOFTWARE\\Vesk\\%s", ProductKeyName);
  DeleteKeyTree(HKEY_LOCAL_MACHINE, path);

  StepProgress();
  CheckItem(IDC_ITEM_REGISTRY);
}
