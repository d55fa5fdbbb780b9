#include "platform/fs/drives.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/fs/win_error.h"
#include "platform/text/ascii.h"

namespace fs = std::filesystem;

namespace {

fs::path& machineDirectory() {
  static fs::path dir;
  return dir;
}

// Folders of their own for letters a-z, empty where none is bound.
std::array<fs::path, 26>& driveFolders() {
  static std::array<fs::path, 26> folders;
  return folders;
}

// The folder of a drive letter (lower case): its own, or the machine
// directory's drive_<letter>; empty when neither is there to look in.
fs::path driveFolder(char letter) {
  const fs::path& own = driveFolders()[static_cast<std::size_t>(letter - 'a')];
  if (!own.empty()) return own;
  if (machineDirectory().empty()) return {};
  return machineDirectory() / (std::string("drive_") + letter);
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

ResolvedPath failure(DWORD error) {
  ResolvedPath r;
  r.error = error;
  return r;
}

// The on-disk name in `dir` that stands for `name`: the same spelling if there
// is one, else the first in byte order that differs only in letter case.
std::optional<std::string> findEntry(const fs::path& dir, const std::string& name) {
  struct stat st {};
  if (::lstat((dir / name).c_str(), &st) == 0) return name;
  std::optional<std::string> best;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string candidate = it->path().filename().native();
    if (namesEqualIgnoringCase(candidate, name) && (!best || candidate < *best)) {
      best = std::move(candidate);
    }
  }
  return best;
}

// Splits the text after "X:" into components, taking "." and ".." on the text.
std::optional<std::vector<std::string>> normalizedComponents(std::string_view rest) {
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t next = pos;
    while (next < rest.size() && !isSeparator(rest[next])) ++next;
    std::string_view part = rest.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      for (char c : part) {
        if (isForbiddenNameChar(static_cast<unsigned char>(c))) return std::nullopt;
      }
      parts.emplace_back(part);
    }
    pos = next + 1;
  }
  return parts;
}

}  // namespace

void setMachineDirectory(const fs::path& machine_dir) { machineDirectory() = machine_dir; }

void setDriveFolder(char letter, const fs::path& folder) {
  if (!ascii::isLetter(letter)) return;
  driveFolders()[static_cast<std::size_t>(ascii::toLower(letter) - 'a')] = folder;
}

void clearDriveFolders() { driveFolders().fill(fs::path()); }

bool isForbiddenNameChar(unsigned char c) {
  if (c < 32) return true;
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
    case '\\':
    case '/':
      return true;
    default:
      return false;
  }
}

bool isWithinFolder(const fs::path& root, const fs::path& inner) {
  const std::string& r = root.native();
  const std::string& i = inner.native();
  if (i.size() < r.size() || i.compare(0, r.size(), r) != 0) return false;
  return i.size() == r.size() || i[r.size()] == '/' || r == "/";
}

bool namesEqualIgnoringCase(std::string_view a, std::string_view b) {
  return ascii::equalsIgnoringCase(a, b);
}

SplitPath splitWindowsPath(std::string_view windows_path) {
  const size_t cut = windows_path.find_last_of("\\/");
  if (cut == std::string_view::npos) {
    // "C:OEM*.INF" names the drive's current folder, which here is its root.
    if (windows_path.size() >= 2 && windows_path[1] == ':') {
      return {std::string(windows_path.substr(0, 2)), std::string(windows_path.substr(2))};
    }
    return {std::string(), std::string(windows_path)};
  }
  return {std::string(windows_path.substr(0, cut)), std::string(windows_path.substr(cut + 1))};
}

ResolvedPath resolveWindowsPath(std::string_view windows_path, LastComponent last) {
  if (windows_path.size() >= MAX_PATH) return failure(ERROR_FILENAME_EXCED_RANGE);
  const bool has_drive =
      windows_path.size() >= 2 && windows_path[1] == ':' && ascii::isLetter(windows_path[0]);
  if (!has_drive) return failure(ERROR_PATH_NOT_FOUND);
  const auto parts = normalizedComponents(windows_path.substr(2));
  if (!parts) return failure(ERROR_INVALID_NAME);
  const char letter = ascii::toLower(windows_path[0]);
  const fs::path folder = driveFolder(letter);
  if (folder.empty()) return failure(ERROR_PATH_NOT_FOUND);
  std::error_code ec;
  const fs::path root = fs::canonical(folder, ec);
  if (ec || !fs::is_directory(root, ec)) return failure(ERROR_PATH_NOT_FOUND);

  ResolvedPath result;
  result.drive_root = root;
  fs::path current = root;
  for (size_t i = 0; i < parts->size(); ++i) {
    const std::string& part = (*parts)[i];
    const bool is_last = i + 1 == parts->size();
    const auto entry = findEntry(current, part);
    if (!entry) {
      if (!is_last) return failure(ERROR_PATH_NOT_FOUND);
      result.parent = current;
      result.host = current / part;
      result.given_name = part;
      return result;
    }
    fs::path candidate = current / *entry;
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0) return failure(win32ErrorFromErrno(errno));
    if (S_ISLNK(st.st_mode) && (!is_last || last == LastComponent::Follow)) {
      const fs::path target = fs::canonical(candidate, ec);
      if (ec) return failure(is_last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
      if (!isWithinFolder(root, target)) return failure(ERROR_ACCESS_DENIED);
      candidate = target;
    }
    if (!is_last && !fs::is_directory(candidate, ec)) return failure(ERROR_PATH_NOT_FOUND);
    if (is_last) result.given_name = part;
    current = candidate;
  }
  result.parent = parts->empty() ? root : current.parent_path();
  result.host = current;
  result.exists = true;
  return result;
}
