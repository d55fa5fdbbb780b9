// SHA-256 digests, to recognise a file or a registry state later.
#pragma once

#include <string>
#include <string_view>

namespace backup {

// The digest of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

}  // namespace backup
