// Reads the subset of the Win32 resource-script language that the program's
// resources use: #include and #define for symbolic ids, ICON resources,
// DIALOG templates with their controls, and STRINGTABLE blocks.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/resources/resources.h"
#include "platform/result/result.h"

namespace resources {

struct ResourceSet {
  std::map<UINT, std::string> strings;
  std::map<UINT, DialogTemplate> dialogs;
  std::map<UINT, IconResource> icons;
};

// Returns the text of a file that the script names (an #include or an icon
// file), or nothing when there is no such file.
using FileLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The resources, or the error "name:line: what is wrong" of the first fault.
Result<ResourceSet> parseResourceScript(std::string_view name, std::string_view text,
                                        const FileLookup& files);

}  // namespace resources
