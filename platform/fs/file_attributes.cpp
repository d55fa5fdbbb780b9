#include "platform/fs/file_attributes.h"

#include <cstdint>

bool isReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

DWORD fileAttributesOf(const struct stat& st) {
  DWORD attributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
  if (isReadOnly(st)) attributes |= FILE_ATTRIBUTE_READONLY;
  return attributes;
}

FILETIME fileTimeOf(const struct timespec& time) {
  constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
  std::int64_t ticks =
      (static_cast<std::int64_t>(time.tv_sec) + kSecondsFrom1601To1970) * 10000000 +
      time.tv_nsec / 100;
  if (ticks < 0) ticks = 0;
  const auto value = static_cast<std::uint64_t>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}
