// The resource files that the build embeds into the program: the resource
// script, the header with its symbolic ids, and the icon images.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace resources {

struct EmbeddedFile {
  std::string_view name;  // relative to the resources folder, or "resources/resource.h"
  std::string_view bytes;
};

std::span<const EmbeddedFile> embeddedFiles();

}  // namespace resources
