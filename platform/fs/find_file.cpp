#include "platform/fs/find_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "platform/fs/drives.h"
#include "platform/fs/file_attributes.h"
#include "platform/fs/wildcard.h"

namespace fs = std::filesystem;

namespace {

struct Search {
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

std::map<std::uintptr_t, Search>& openSearches() {
  static std::map<std::uintptr_t, Search> searches;
  return searches;
}

std::uintptr_t g_next_id = 1;

bool isAddressableName(const std::string& name) {
  if (name.empty() || name.size() >= MAX_PATH) return false;
  return std::none_of(name.begin(), name.end(),
                      [](char c) { return isForbiddenNameChar(static_cast<unsigned char>(c)); });
}

// The data of one entry, or false when it cannot be reached from the drive.
bool describeEntry(const fs::path& folder, const fs::path& root, const std::string& name,
                   WIN32_FIND_DATAA& data) {
  fs::path host = folder / name;
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    std::error_code ec;
    const fs::path target = fs::canonical(host, ec);
    if (ec || !isWithinFolder(root, target) || ::stat(target.c_str(), &st) != 0) return false;
  }
  if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) return false;
  data = WIN32_FIND_DATAA{};
  data.dwFileAttributes = fileAttributesOf(st);
  data.ftCreationTime = fileTimeOf(st.st_mtim);
  data.ftLastAccessTime = fileTimeOf(st.st_atim);
  data.ftLastWriteTime = fileTimeOf(st.st_mtim);
  if (S_ISREG(st.st_mode)) {
    const auto size = static_cast<std::uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
  return true;
}

Search* findSearch(HANDLE handle) {
  auto it = openSearches().find(reinterpret_cast<std::uintptr_t>(handle));
  return it == openSearches().end() ? nullptr : &it->second;
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  if (lpFileName == nullptr || lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  if (std::strlen(lpFileName) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  const SplitPath split = splitWindowsPath(lpFileName);
  if (split.name.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  for (char c : split.name) {
    if (c != '*' && c != '?' && isForbiddenNameChar(static_cast<unsigned char>(c))) {
      SetLastError(ERROR_INVALID_NAME);
      return INVALID_HANDLE_VALUE;
    }
  }
  const ResolvedPath folder = resolveWindowsPath(split.folder, LastComponent::Follow);
  std::error_code ec;
  if (!folder.ok() || !folder.exists || !fs::is_directory(folder.host, ec)) {
    const DWORD error =
        folder.ok() || folder.error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : folder.error;
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }

  std::vector<std::string> names;
  if (folder.host != folder.drive_root) names = {".", ".."};
  for (fs::directory_iterator it(folder.host, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().native());
  }
  std::sort(names.begin(), names.end());

  Search search;
  for (const std::string& name : names) {
    if (!isAddressableName(name) || !matchesWildcard(split.name, name)) continue;
    WIN32_FIND_DATAA data;
    if (describeEntry(folder.host, folder.drive_root, name, data)) search.entries.push_back(data);
  }
  if (search.entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *lpFindFileData = search.entries.front();
  search.next = 1;
  const std::uintptr_t id = g_next_id++;
  openSearches().emplace(id, std::move(search));
  return reinterpret_cast<HANDLE>(id);
}

BOOL FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  Search* search = findSearch(hFindFile);
  if (search == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (lpFindFileData == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (search->next >= search->entries.size()) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  *lpFindFileData = search->entries[search->next++];
  return TRUE;
}

BOOL FindClose(HANDLE hFindFile) {
  if (openSearches().erase(reinterpret_cast<std::uintptr_t>(hFindFile)) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}
