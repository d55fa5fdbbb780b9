#include "platform/fs/profile.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fs/profile_text.h"
#include "platform/fs/text_file.h"
#include "platform/fs/windows_directory.h"

namespace {

bool hasDrive(std::string_view path) { return path.size() >= 2 && path[1] == ':'; }

std::string profilePath(std::string_view file) {
  if (hasDrive(file)) return std::string(file);
  if (!file.empty() && (file.front() == '\\' || file.front() == '/')) {
    return "C:" + std::string(file);
  }
  return windowsDirectory() + "\\" + std::string(file);
}

DWORD copyText(std::string_view text, LPSTR buffer, DWORD size) {
  const size_t length = text.size() < size ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return static_cast<DWORD>(length);
}

DWORD copyList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
  if (size < 2) {
    buffer[0] = '\0';
    return 0;
  }
  size_t pos = 0;
  for (const std::string& name : names) {
    if (pos + name.size() + 2 > size) {
      // The name before may have filled the buffer up to its last byte but
      // one; then nothing of this one fits.
      const size_t room = pos < size - 2 ? size - 2 - pos : 0;
      std::memcpy(buffer + pos, name.data(), room);
      buffer[size - 2] = '\0';
      buffer[size - 1] = '\0';
      SetLastError(ERROR_MORE_DATA);
      return size - 2;
    }
    std::memcpy(buffer + pos, name.data(), name.size());
    pos += name.size();
    buffer[pos++] = '\0';
  }
  buffer[pos] = '\0';
  return static_cast<DWORD>(pos);
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  if (nSize == 0) return 0;
  if (lpReturnedString == nullptr || lpFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string bytes;
  DWORD error = readFileBytes(profilePath(lpFileName).c_str(), bytes);
  if (error == ERROR_SUCCESS) {
    const ProfileText text(bytes);
    if (lpAppName == nullptr) return copyList(text.sectionNames(), lpReturnedString, nSize);
    if (lpKeyName == nullptr) return copyList(text.keyNames(lpAppName), lpReturnedString, nSize);
    if (const auto value = text.value(lpAppName, lpKeyName)) {
      SetLastError(value->size() < nSize ? ERROR_SUCCESS : ERROR_MORE_DATA);
      return copyText(*value, lpReturnedString, nSize);
    }
    error = ERROR_FILE_NOT_FOUND;
  }
  SetLastError(error);
  if (lpAppName == nullptr || lpKeyName == nullptr) return copyList({}, lpReturnedString, nSize);
  std::string_view fallback = lpDefault == nullptr ? "" : lpDefault;
  while (!fallback.empty() && fallback.back() == ' ') fallback.remove_suffix(1);
  return copyText(fallback, lpReturnedString, nSize);
}
