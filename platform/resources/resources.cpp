#include "platform/resources/resources.h"

#include <cstdio>
#include <cstring>

#include "platform/resources/embedded_files.h"
#include "platform/resources/rc_script.h"

namespace {

// The program's one module; its handle only needs to be distinct and non-null.
HINSTANCE programInstance() {
  static char anchor;
  return reinterpret_cast<HINSTANCE>(&anchor);
}

const resources::ResourceSet& loaded() {
  static const resources::ResourceSet set = [] {
    auto lookup = [](std::string_view name) -> std::optional<std::string> {
      for (const auto& file : resources::embeddedFiles())
        if (file.name == name) return std::string(file.bytes);
      return std::nullopt;
    };
    const auto script = lookup("uinq76.rc");
    if (!script) {
      std::fprintf(stderr, "uinq76: the resource script is not in the program\n");
      return resources::ResourceSet{};
    }
    auto result = resources::parseResourceScript("uinq76.rc", *script, lookup);
    if (!result) {
      // The script is checked by the tests; a broken one leaves the program
      // without resources rather than half of them.
      std::fprintf(stderr, "uinq76: %s\n", result.error().c_str());
      return resources::ResourceSet{};
    }
    return std::move(result).value();
  }();
  return set;
}

}  // namespace

HINSTANCE GetModuleHandleA(LPCSTR module_name) {
  if (module_name == nullptr) return programInstance();
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int buffer_max) {
  if (instance != programInstance() || buffer == nullptr || buffer_max <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::string* text = resources::findString(id);
  if (text == nullptr) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  const size_t n = std::min(text->size(), static_cast<size_t>(buffer_max - 1));
  std::memcpy(buffer, text->data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

namespace resources {

const DialogTemplate* findDialog(UINT id) {
  const auto& dialogs = loaded().dialogs;
  const auto it = dialogs.find(id);
  return it == dialogs.end() ? nullptr : &it->second;
}

const IconResource* findIcon(UINT id) {
  const auto& icons = loaded().icons;
  const auto it = icons.find(id);
  return it == icons.end() ? nullptr : &it->second;
}

const std::string* findString(UINT id) {
  const auto& strings = loaded().strings;
  const auto it = strings.find(id);
  return it == strings.end() ? nullptr : &it->second;
}

}  // namespace resources
