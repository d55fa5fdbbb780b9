// A checked registry file read into the store's key tree: the file's root
// becomes one root of the tree (HKEY_LOCAL_MACHINE for SYSTEM.DAT), each key
// and value in the file's order. Names keep their bytes (Windows-1252) and are
// looked up as the store looks them up, without regard to case; two sibling
// keys or two values of one key whose names differ only in case are refused,
// as the store could not tell them apart.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/creg/creg_check.h"
#include "platform/registry/registry_tree.h"
#include "platform/result/result.h"

namespace creg {

// Which file entry each key of the tree was read from.
class TreeMap final {
 public:
  // The index into CheckedFile::entries, or kNoRecord for a key not read from the file.
  std::uint32_t entryOf(KeyId key) const {
    return key < m_entryOfKey.size() ? m_entryOfKey[key] : kNoRecord;
  }
  void set(KeyId key, std::uint32_t entry) {
    if (key >= m_entryOfKey.size()) m_entryOfKey.resize(key + 1, kNoRecord);
    m_entryOfKey[key] = entry;
  }

 private:
  std::vector<std::uint32_t> m_entryOfKey;
};

// Adds the keys and values of `file` (checked from `bytes`) below `root` of
// `tree`, which must have no subkeys or values yet.
Result<TreeMap> readIntoTree(std::span<const std::uint8_t> bytes, const CheckedFile& file,
                             RegistryTree& tree, KeyId root, std::string_view fileName);

// The whole reading: check, then a tree with the file as HKEY_LOCAL_MACHINE.
struct LoadedFile {
  CheckedFile checked;
  RegistryTree tree;
  TreeMap map;
};
Result<LoadedFile> loadFile(std::span<const std::uint8_t> bytes, std::string_view fileName);

// Compares the subtree `a` of `treeA` with `b` of `treeB`: the same names
// (byte for byte), values (name, type, data, in order) and subkeys in order.
// On a difference, says where, naming the key by its path below `path`.
Result<void> compareTrees(const RegistryTree& treeA, KeyId a, const RegistryTree& treeB, KeyId b,
                          const std::string& path);

// Whether `file` (checked from `bytes`) holds exactly `root`'s subtree of
// `tree` as its root's: the same keys, names byte for byte, values (name,
// type, data) and subkeys in order. What readIntoTree and compareTrees would
// find together, without the tree in between.
bool holdsTree(std::span<const std::uint8_t> bytes, const CheckedFile& file,
               const RegistryTree& tree, KeyId root);

}  // namespace creg
