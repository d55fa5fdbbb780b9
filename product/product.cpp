#include "product/product.h"

#include <cstdio>
#include <cstring>

#include "platform/toolkit/afxwin.h"
#include "platform/win32/windows.h"
#include "registry/scoped_key.h"

char ProductKeyName[20] = {};
char ProductTitle[80] = {};

int IsProductInstalled() {
  lstrcpynA(ProductKeyName, "KivraQ76", sizeof ProductKeyName);

  char path[MAX_PATH];
  std::snprintf(path, sizeof path, "SOFTWARE\\Vesk\\%s", ProductKeyName);

  ScopedKey key;
  if (key.open(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE) != ERROR_SUCCESS) return 0;

  // The value's type is not looked at: whatever bytes "Title" holds are the
  // title, up to the first zero.
  DWORD size = sizeof ProductTitle;
  const LONG result = RegQueryValueExA(key.get(), "Title", nullptr, nullptr,
                                       reinterpret_cast<LPBYTE>(ProductTitle), &size);

  if (result != ERROR_SUCCESS) {
    // Too long (ERROR_MORE_DATA) or missing: the buffer holds nothing usable.
    std::memset(ProductTitle, 0, sizeof ProductTitle);
    return 0;
  }
  if (size < sizeof ProductTitle) {
    ProductTitle[size] = '\0';
    return 1;
  }
  // Exactly 80 bytes: only a value that ends in its terminating zero fits. A
  // title of 80 characters stored without one is too long like any other; cut
  // to 79 characters it would name another program's uninstall key.
  if (ProductTitle[sizeof ProductTitle - 1] == '\0') return 1;
  std::memset(ProductTitle, 0, sizeof ProductTitle);
  return 0;
}

int ShowMessage(UINT caption_id, UINT text_id, UINT style) {
  char caption[255] = {};
  char text[255] = {};
  LoadStringA(AfxGetResourceHandle(), caption_id, caption, sizeof caption);
  LoadStringA(AfxGetResourceHandle(), text_id, text, sizeof text);
  return MessageBoxA(GetFocus(), text, caption, style);
}
