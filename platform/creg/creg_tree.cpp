#include "platform/creg/creg_tree.h"

#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "platform/creg/creg_layout.h"

namespace creg {
namespace {

Error failAt(std::string_view fileName, std::uint64_t offset, const std::string& what) {
  char at[32];
  std::snprintf(at, sizeof at, "0x%llX", static_cast<unsigned long long>(offset));
  return Error{std::string(fileName) + ": offset " + at + ": " + what};
}

}  // namespace

Result<TreeMap> readIntoTree(std::span<const std::uint8_t> bytes, const CheckedFile& file,
                             RegistryTree& tree, KeyId root, std::string_view fileName) {
  constexpr std::size_t kAtEnd = std::numeric_limits<std::size_t>::max();
  TreeMap map;
  std::vector<KeyId> keyOfEntry(file.entries.size(), kNoKey);
  keyOfEntry[0] = root;
  map.set(root, 0);
  // Parents come before their children in the entry list.
  for (std::uint32_t e = 1; e < file.entries.size(); ++e) {
    const CheckedEntry& entry = file.entries[e];
    const CheckedBlock& block = file.blocks[entry.block];
    const CheckedRecord& record = block.records[entry.record];
    const std::uint64_t recordAt = std::uint64_t{block.start} + record.offset;
    const std::string_view name = recordName(bytes, block, record);
    if (name.empty()) return failAt(fileName, recordAt, "a key without a name");
    if (name.find('\\') != std::string_view::npos)
      return failAt(fileName, recordAt, "the key name \"" + std::string(name) + "\" holds a \\");
    // Appending finds a name that is already there; the count tells.
    const KeyId parent = keyOfEntry[entry.parent];
    const std::size_t siblings = tree.subkeyCount(parent);
    const KeyId key = tree.findOrAddSubkey(parent, name);
    if (tree.subkeyCount(parent) == siblings)
      return failAt(fileName, kRgknStart + entry.offset,
                    "two sibling keys are named \"" + std::string(name) + "\" in some letter case");
    keyOfEntry[e] = key;
    map.set(key, e);
    for (const CheckedValue& value : record.values) {
      const RegistryValue stored{valueName(bytes, block, record, value), value.type,
                                 valueData(bytes, block, record, value)};
      if (!tree.insertValueAt(key, kAtEnd, stored))
        return failAt(fileName, recordAt + value.offset,
                      "the key \"" + std::string(name) + "\" has two values named \"" +
                          std::string(stored.name) + "\" in some letter case");
    }
  }
  return map;
}

Result<LoadedFile> loadFile(std::span<const std::uint8_t> bytes, std::string_view fileName) {
  auto checked = checkFile(bytes, fileName);
  if (!checked) return Error{checked.error()};
  LoadedFile loaded{std::move(checked).value(), RegistryTree(), TreeMap()};
  loaded.tree.noteMentioned(RootKey::LocalMachine);
  loaded.tree.noteListed(RootKey::LocalMachine);
  auto map = readIntoTree(bytes, loaded.checked, loaded.tree,
                          RegistryTree::rootKey(RootKey::LocalMachine), fileName);
  if (!map) return Error{map.error()};
  loaded.map = std::move(map).value();
  return loaded;
}

Result<void> compareTrees(const RegistryTree& treeA, KeyId a, const RegistryTree& treeB, KeyId b,
                          const std::string& path) {
  std::vector<RegistryValue> valuesA, valuesB;
  treeA.forEachValue(a, [&](const RegistryValue& v) { valuesA.push_back(v); });
  treeB.forEachValue(b, [&](const RegistryValue& v) { valuesB.push_back(v); });
  if (valuesA.size() != valuesB.size())
    return Error{path + ": " + std::to_string(valuesA.size()) + " values against " +
                 std::to_string(valuesB.size())};
  for (std::size_t i = 0; i < valuesA.size(); ++i) {
    if (valuesA[i].name != valuesB[i].name || valuesA[i].type != valuesB[i].type ||
        valuesA[i].data != valuesB[i].data)
      return Error{path + ": value \"" + std::string(valuesA[i].name) + "\" differs"};
  }
  std::vector<KeyId> keysA, keysB;
  treeA.forEachSubkey(a, [&](KeyId k) { keysA.push_back(k); });
  treeB.forEachSubkey(b, [&](KeyId k) { keysB.push_back(k); });
  if (keysA.size() != keysB.size())
    return Error{path + ": " + std::to_string(keysA.size()) + " subkeys against " +
                 std::to_string(keysB.size())};
  for (std::size_t i = 0; i < keysA.size(); ++i) {
    const std::string_view name = treeA.name(keysA[i]);
    const std::string subpath = path + "\\" + std::string(name);
    if (name != treeB.name(keysB[i])) return Error{subpath + ": named differently"};
    if (auto r = compareTrees(treeA, keysA[i], treeB, keysB[i], subpath); !r) return r;
  }
  return {};
}

}  // namespace creg
