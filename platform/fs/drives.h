// Drive letters of the emulated machine. A machine directory holds one folder
// per drive (MACHINE/drive_c is C:), and a Windows path X:\A\B is looked up
// inside MACHINE/drive_x the way a FAT drive finds names: without regard to
// the case of the letters a to z.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "platform/winbase/winbase.h"

// Binds drive letters to the folders MACHINE/drive_<letter> of a machine directory.
void setMachineDirectory(const std::filesystem::path& machine_dir);

// Binds one drive letter (a-z, either case) to a folder of its own, the root
// of a mounted Windows drive for example; an empty folder unbinds it. A
// letter bound so is looked up there and never in the machine directory.
void setDriveFolder(char letter, const std::filesystem::path& folder);
// Unbinds every letter bound by setDriveFolder.
void clearDriveFolders();

// Whether a symbolic link in the last component of a path is followed.
enum class LastComponent { Follow, DoNotFollow };

struct ResolvedPath {
  // ERROR_SUCCESS, or the Win32 code of the failure (then the rest is empty).
  DWORD error = ERROR_SUCCESS;
  // The entry on the host: the on-disk spelling when it exists, else the
  // spelling given. With LastComponent::Follow a link is replaced by its target.
  std::filesystem::path host;
  // The folder that holds the entry, on the host.
  std::filesystem::path parent;
  // The last component as the Windows path spells it (empty for a drive root).
  std::string given_name;
  // The canonical folder of the drive; nothing outside it is ever reached.
  std::filesystem::path drive_root;
  bool exists = false;

  bool ok() const { return error == ERROR_SUCCESS; }
};

// Resolves a Windows path inside its drive. "." and ".." are taken on the text
// ("..", at the root, stays there); each component then matches the on-disk
// name with the same spelling, else the first name in byte order that differs
// only in letter case. A missing last component resolves (exists == false) to
// the spelling given, so a new file can be created; a missing folder before it
// fails with ERROR_PATH_NOT_FOUND. A symbolic link that leads outside the
// drive's folder fails with ERROR_ACCESS_DENIED. Paths of MAX_PATH characters
// or more fail with ERROR_FILENAME_EXCED_RANGE, characters that Windows does
// not allow in names with ERROR_INVALID_NAME.
ResolvedPath resolveWindowsPath(std::string_view windows_path, LastComponent last);

// Splits a Windows path into the text before its last separator (the folder)
// and its last component. "C:\INF\OEM*.INF" gives "C:\INF" and "OEM*.INF".
struct SplitPath {
  std::string folder;
  std::string name;
};
SplitPath splitWindowsPath(std::string_view windows_path);

// True for the characters that a Windows file name may not hold.
bool isForbiddenNameChar(unsigned char c);

// True when `inner` is `root` or lies below it; both paths are canonical.
bool isWithinFolder(const std::filesystem::path& root, const std::filesystem::path& inner);

// Compares two names the way the drive does: only a-z and A-Z are folded.
bool namesEqualIgnoringCase(std::string_view a, std::string_view b);
