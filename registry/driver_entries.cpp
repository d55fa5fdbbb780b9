#include "registry/driver_entries.h"

#include <cstring>
#include <string_view>

#include "platform/win32/windows.h"
#include "registry/key_removal.h"
#include "registry/scoped_key.h"

namespace {

constexpr DWORD kBufferSize = 260;
constexpr char kMediaClassKey[] = "System\\CurrentControlSet\\Services\\Class\\MEDIA";
constexpr char kMediaResourcesKey[] = "System\\CurrentControlSet\\Control\\MediaResources\\";

// Whether the subkey `name` of `parent` has the "Driver" value `driver`. The
// value's text is its bytes up to the first zero, or all of the bytes read
// when none of them is zero, so a value that fills the whole buffer without a
// zero is compared as it is and never read past.
bool hasDriver(HKEY parent, const char* name, LPCSTR driver) {
  if (driver == nullptr) return false;
  BYTE value[kBufferSize];
  DWORD size = kBufferSize;
  ScopedKey entry;
  if (entry.open(parent, name, KEY_QUERY_VALUE) != ERROR_SUCCESS) return false;
  if (RegQueryValueExA(entry.get(), "Driver", nullptr, nullptr, value, &size) != ERROR_SUCCESS) {
    return false;
  }
  const char* text = reinterpret_cast<const char*>(value);
  const std::string_view stored(text, strnlen(text, size));
  return stored == std::string_view(driver);
}

// Removes the first subkey of `parent_path` whose "Driver" value is `driver`.
int deleteFirstEntryByDriver(LPCSTR parent_path, LPCSTR driver) {
  ScopedKey parent;
  if (parent.open(HKEY_LOCAL_MACHINE, parent_path, KEY_READ) != ERROR_SUCCESS) return 0;
  char class_name[kBufferSize];
  DWORD class_length = kBufferSize;
  DWORD count = 0;
  if (RegQueryInfoKeyA(parent.get(), class_name, &class_length, nullptr, &count, nullptr, nullptr,
                       nullptr, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return 0;
  }
  for (DWORD index = 0; index < count; ++index) {
    char name[kBufferSize];
    DWORD length = kBufferSize;
    if (RegEnumKeyExA(parent.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return 0;
    }
    if (hasDriver(parent.get(), name, driver)) {
      DeleteKeyTree(parent.get(), name);
      return 1;
    }
  }
  return 1;
}

}  // namespace

int DeleteClassEntriesByDriver(LPCSTR driver) {
  return deleteFirstEntryByDriver(kMediaClassKey, driver);
}

int DeleteMediaResourcesByDriver(LPCSTR device_type, LPCSTR driver) {
  // The parent path is joined in a 260-byte buffer; a device type too long
  // for it names no key that could be opened.
  char path[kBufferSize];
  const std::size_t prefix = sizeof kMediaResourcesKey - 1;
  const std::size_t type_length = device_type == nullptr ? 0 : std::strlen(device_type);
  if (prefix + type_length + 1 > sizeof path) return 0;
  std::memcpy(path, kMediaResourcesKey, prefix);
  if (type_length != 0) std::memcpy(path + prefix, device_type, type_length);
  path[prefix + type_length] = '\0';
  return deleteFirstEntryByDriver(path, driver);
}
