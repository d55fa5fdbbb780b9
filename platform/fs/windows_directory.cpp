#include "platform/fs/windows_directory.h"

#include <cstring>
#include <string_view>

#include "platform/fs/drives.h"
#include "platform/fs/profile_text.h"
#include "platform/fs/text_file.h"
#include "platform/text/ascii.h"

namespace {

constexpr const char* kDefaultWindowsDirectory = "C:\\WINDOWS";

// A folder on a drive, "X:\" and at least one name, with nothing that a
// Windows path may not hold. Trailing backslashes are dropped.
bool normalizeWindowsDirectory(std::string& dir) {
  while (dir.size() > 3 && dir.back() == '\\') dir.pop_back();
  if (dir.size() < 4 || dir.size() >= MAX_PATH) return false;
  if (!ascii::isLetter(dir[0]) || dir[1] != ':' || dir[2] != '\\') {
    return false;
  }
  for (size_t i = 3; i < dir.size(); ++i) {
    const auto c = static_cast<unsigned char>(dir[i]);
    if (c != '\\' && isForbiddenNameChar(c)) return false;
  }
  return true;
}

}  // namespace

std::string windowsDirectory() {
  std::string bytes;
  if (readFileBytes("C:\\MSDOS.SYS", bytes) == ERROR_SUCCESS) {
    if (auto recorded = ProfileText(bytes).value("Paths", "WinDir")) {
      if (normalizeWindowsDirectory(*recorded)) return *recorded;
    }
  }
  return kDefaultWindowsDirectory;
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  const std::string dir = windowsDirectory();
  if (lpBuffer == nullptr || dir.size() >= uSize) return static_cast<UINT>(dir.size() + 1);
  std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
  return static_cast<UINT>(dir.size());
}
