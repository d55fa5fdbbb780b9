// Replacing a file on Windows 95, which has neither MoveFileExA nor
// ReplaceFileA: delete, then rename.
#include "platform/fs/file_replace.h"

namespace {

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

BOOL replaceFileWithCopy(LPCSTR replacement, LPCSTR target) {
  if (replacement == nullptr || target == nullptr) return fail(ERROR_INVALID_PARAMETER);
  // Everything that would make the rename fail after the delete is checked
  // before it, so that the old file is only deleted when the new one can take
  // its place.
  const DWORD source = ::GetFileAttributesA(replacement);
  if (source == INVALID_FILE_ATTRIBUTES) return FALSE;
  if ((source & FILE_ATTRIBUTE_DIRECTORY) != 0) return fail(ERROR_ACCESS_DENIED);
  const DWORD old_file = ::GetFileAttributesA(target);
  if (old_file != INVALID_FILE_ATTRIBUTES) {
    if ((old_file & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
      return fail(ERROR_ACCESS_DENIED);
    if (!::DeleteFileA(target)) return FALSE;
  }
  return ::MoveFileA(replacement, target);
}
