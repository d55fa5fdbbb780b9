// SHA-256 digests, to recognise a file or a registry state later.
#pragma once

#include <string>
#include <string_view>

class RegistryTree;

namespace backup {

// The digest of `bytes` as 64 lower-case hex digits.
std::string sha256Hex(std::string_view bytes);

// How a state of the registry is fingerprinted: by its keys and values
// themselves, or, in the backups of earlier versions, by its REGEDIT4 text.
enum class RegistryFingerprint { Tree, Text };

// The fingerprint of a state of the registry as 64 hex digits. Of the tree:
// every root and, depth first, every key's name, its values' names, types and
// data in order and its subkeys in order, each counted so that no two trees
// give the same bytes. Of the text: sha256Hex of its REGEDIT4 text, taken
// piece by piece as it is written, so it is never held whole.
std::string registryDigest(const RegistryTree& tree,
                           RegistryFingerprint kind = RegistryFingerprint::Tree);

}  // namespace backup
