// SHA-256 digests, to recognise a file or a registry state later.
#pragma once

#include <string>
#include <string_view>

class RegistryTree;

namespace backup {

// The digest of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

// The digest of the registry's REGEDIT4 text, as sha256Hex of it would give,
// taken piece by piece as the text is written, so it is never held whole.
std::string registryDigest(const RegistryTree& tree);

}  // namespace backup
