#include "files/oem_inf_removal.h"

#include <cstdio>
#include <cstring>

#include "platform/win32/windows.h"
#include "resources/resource.h"

namespace {

constexpr int kTextSize = 256;

}  // namespace

void RemoveOemInfFiles() {
  char marker[kTextSize] = "";
  LoadStringA(GetModuleHandleA(nullptr), IDS_INF_MARKER, marker, kTextSize - 1);

  char windows_dir[kTextSize];
  const UINT length = GetWindowsDirectoryA(windows_dir, kTextSize);
  // 0 is a failure; kTextSize or more is the size a longer answer would need,
  // and the buffer then holds nothing.
  if (length == 0 || length >= kTextSize) return;

  char folder[kTextSize];
  char pattern[kTextSize];
  const int folder_length = std::snprintf(folder, sizeof folder, "%s\\INF\\", windows_dir);
  const int pattern_length = std::snprintf(pattern, sizeof pattern, "%sOEM*.INF", folder);
  if (folder_length < 0 || pattern_length < 0 || pattern_length >= kTextSize) return;

  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    char path[kTextSize];
    const int path_length = std::snprintf(path, sizeof path, "%s%s", folder, found.cFileName);
    // A name that does not fit the path buffer could not be named whole, so
    // the file is passed over rather than a cut path being read or deleted.
    if (path_length < 0 || path_length >= kTextSize) continue;
    char value[kTextSize];
    GetPrivateProfileStringA("Strings", "KivraKey", "NIL", value, kTextSize, path);
    // An empty marker (the string not loaded) must match nothing.
    if (marker[0] != '\0' && std::strstr(value, marker) != nullptr) DeleteFileA(path);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}
