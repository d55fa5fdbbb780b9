// The program's resources: the string table, the dialog templates and the
// icons, read from the resource script that the build embeds into the program.
#pragma once

#include <string>
#include <vector>

#include "platform/winbase/winbase.h"

// The program's instance handle for a null module name; null for any other
// name, with ERROR_MOD_NOT_FOUND.
HINSTANCE GetModuleHandleA(LPCSTR module_name);

// Copies string `id` of the program's string table into `buffer`, cut to
// buffer_max - 1 characters and zero-terminated. Returns the number of
// characters copied, or 0 when there is no such string, the instance is not
// the program's, or the buffer is null or has no room; the buffer is then left
// as it was, except that an empty string zero-terminates it.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int buffer_max);

namespace resources {

enum class ControlKind { Static, CheckBox, ProgressBar, Icon, PushButton, Other };

struct ControlTemplate {
  int id = 0;
  ControlKind kind = ControlKind::Other;
  std::string windowClass;  // "Static", "Button", "msctls_progress32", ...
  std::string text;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  DWORD style = 0;
  DWORD exStyle = 0;
  int iconId = 0;  // for ControlKind::Icon
};

struct DialogTemplate {
  UINT id = 0;
  std::string caption;
  std::string fontName;
  int pointSize = 0;
  DWORD style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
  std::vector<ControlTemplate> controls;
};

struct IconResource {
  UINT id = 0;
  std::string format;  // the image file's extension, lower case: "xpm"
  std::string bytes;   // the image file as it is stored
};

// The program's resources, or null when there is none with that id.
const DialogTemplate* findDialog(UINT id);
const IconResource* findIcon(UINT id);
const std::string* findString(UINT id);

}  // namespace resources
