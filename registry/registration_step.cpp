#include "registry/registration_step.h"

#include <cstdio>

#include "platform/win32/windows.h"
#include "registry/key_removal.h"
#include "resources/resource.h"

namespace {

// Removes the key `prefix` + `name` below HKEY_LOCAL_MACHINE. A path cut short
// by the buffer would name another key, so one that does not fit is skipped.
void deleteNamedKey(const char* prefix, const char* name) {
  char path[MAX_PATH];
  const int written = std::snprintf(path, sizeof path, "%s%s", prefix, name);
  if (written > 0 && static_cast<size_t>(written) < sizeof path)
    DeleteKeyTree(HKEY_LOCAL_MACHINE, path);
}

}  // namespace

void RemoveProgramRegistration(UninstallProgress& progress, const char* product_title,
                               const char* product_key_name) {
  // With an empty title the path would name the Uninstall key itself, and with
  // it the registrations of every other program: that removal is skipped.
  if (product_title[0] != '\0')
    deleteNamedKey("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\", product_title);
  deleteNamedKey("SOFTWARE\\Vesk\\", product_key_name);

  progress.StepProgress();
  progress.CheckItem(IDC_ITEM_REGISTRY);
}
