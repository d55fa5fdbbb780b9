// Key trees of the shapes a hostile registry file may take, added to a tree
// that the generator then writes: a chain of nested keys, a key with very
// many subkeys, and very many hardware profiles. For the tests, the fuzz
// seeds and the benchmark; the program itself never adds a key.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/registry/registry_tree.h"

namespace creg_gen {

// The key at `path` ("Software\\Wide") below HKEY_LOCAL_MACHINE, made where
// it is missing.
KeyId makePath(RegistryTree& tree, std::string_view path);

// Adds `depth` keys below `key`, each the only subkey of the one before
// ("L1", "L2", ...); the deepest holds one value.
void addChain(RegistryTree& tree, KeyId key, std::size_t depth);

// Adds `count` subkeys below `key` ("W0", "W1", ...), each with one value.
void addWide(RegistryTree& tree, KeyId key, std::size_t count);

// Adds `count` hardware profiles below HKEY_LOCAL_MACHINE\Config (named by
// four or more digits after the highest there), each a copy of its first
// profile, or of an empty key if there is none.
void addProfiles(RegistryTree& tree, std::size_t count);

}  // namespace creg_gen
