// SHA-256 digests, to recognise a file or a registry state later.
#pragma once

#include <string>
#include <string_view>

class RegistryTree;
struct Regedit4Layout;

namespace backup {

// The digest of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

// How a state of the registry is fingerprinted: by its keys and values
// themselves, or, in the backups of earlier versions, by its REGEDIT4 text.
enum class RegistryFingerprint { Tree, Text };

// The fingerprint of a state of the registry's tree as 64 hex digits: every
// root and, depth first, every key's name, its values' names, types and data
// in order and its subkeys in order, each counted so that no two trees give
// the same bytes.
std::string registryDigest(const RegistryTree& tree);

// The fingerprint of earlier versions: sha256Hex of the REGEDIT4 text of the
// tree laid out as `layout` says, taken piece by piece as it is written, so
// that it is never held whole.
std::string registryTextDigest(const RegistryTree& tree, const Regedit4Layout& layout);

}  // namespace backup
