#include "platform/creg/creg_tree.h"

#include <cstdio>
#include <deque>
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

// A name that every form of the registry carries as it is: the Reg*A
// functions end a name at its NUL byte, and the backup's text of removed keys
// ends a line at a line feed.
bool carried(std::string_view name) {
  return name.find('\0') == std::string_view::npos && name.find('\n') == std::string_view::npos;
}

}  // namespace

Result<TreeMap> readIntoTree(std::span<const std::uint8_t> bytes, const CheckedFile& file,
                             RegistryTree& tree, KeyId root, std::string_view fileName) {
  constexpr std::size_t kAtEnd = std::numeric_limits<std::size_t>::max();
  TreeMap map;
  // Room for every key, value, name and data at once: the records' used bytes
  // hold them all.
  std::size_t values = 0;
  std::size_t bytesUsed = 0;
  for (const CheckedBlock& block : file.blocks) {
    for (const CheckedRecord& record : block.records) {
      if (!record.live) continue;
      values += record.values.size();
      bytesUsed += record.used;
    }
  }
  tree.reserve(file.entries.size(), values, bytesUsed);
  std::vector<KeyId> keyOfEntry(file.entries.size(), kNoKey);
  std::vector<std::uint32_t> depthOfEntry(file.entries.size(), 0);
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
    if (!carried(name))
      return failAt(fileName, recordAt, "a key name holds a NUL byte or a line feed");
    depthOfEntry[e] = depthOfEntry[entry.parent] + 1;
    if (depthOfEntry[e] > kMaxKeyDepth)
      return failAt(
          fileName, recordAt,
          "the key lies more than " + std::to_string(kMaxKeyDepth) + " levels below the root");
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
      if (!carried(stored.name))
        return failAt(fileName, recordAt + value.offset,
                      "the key \"" + std::string(name) +
                          "\" has a value whose name holds a NUL byte or a line feed");
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
  if (!checked) return checked.failure();
  LoadedFile loaded{std::move(checked).value(), RegistryTree(), TreeMap()};
  auto map = readIntoTree(bytes, loaded.checked, loaded.tree,
                          RegistryTree::rootKey(RootKey::LocalMachine), fileName);
  if (!map) return map.failure();
  loaded.map = std::move(map).value();
  return loaded;
}

namespace {

// Compares two subtrees depth first, as compareTrees says. The path of the key
// at hand is kept as its names and made into text only for a message; each
// level keeps the subkeys still to compare, so that a deep tree costs memory,
// not stack, and the lists are kept from one key to the next.
class TreeComparison {
 public:
  TreeComparison(const RegistryTree& treeA, const RegistryTree& treeB, const std::string& path)
      : m_a(treeA), m_b(treeB), m_path(path) {}

  Result<void> compare(KeyId a, KeyId b) {
    std::size_t depth = 0;
    if (auto r = enter(a, b, depth); !r) return r;
    while (depth != 0) {
      Level& level = m_levels[depth - 1];
      if (level.next == level.a.size()) {
        --depth;
        if (depth != 0) m_names.pop_back();
        continue;
      }
      const KeyId childA = level.a[level.next];
      const KeyId childB = level.b[level.next];
      ++level.next;
      const std::string_view name = m_a.name(childA);
      m_names.push_back(name);
      if (name != m_b.name(childB)) return Error{path() + ": named differently"};
      if (auto r = enter(childA, childB, depth); !r) return r;
    }
    return {};
  }

 private:
  struct Level {
    std::vector<KeyId> a, b;
    std::size_t next = 0;
  };

  // Compares the values of `a` and `b`, then opens a level for their subkeys.
  Result<void> enter(KeyId a, KeyId b, std::size_t& depth) {
    m_valuesA.clear();
    m_valuesB.clear();
    m_a.forEachValue(a, [&](const RegistryValue& v) { m_valuesA.push_back(v); });
    m_b.forEachValue(b, [&](const RegistryValue& v) { m_valuesB.push_back(v); });
    if (m_valuesA.size() != m_valuesB.size())
      return Error{path() + ": " + std::to_string(m_valuesA.size()) + " values against " +
                   std::to_string(m_valuesB.size())};
    for (std::size_t i = 0; i < m_valuesA.size(); ++i) {
      if (m_valuesA[i].name != m_valuesB[i].name || m_valuesA[i].type != m_valuesB[i].type ||
          m_valuesA[i].data != m_valuesB[i].data)
        return Error{path() + ": value \"" + std::string(m_valuesA[i].name) + "\" differs"};
    }
    if (m_levels.size() <= depth) m_levels.resize(depth + 1);
    Level& level = m_levels[depth++];
    level.a.clear();
    level.b.clear();
    level.next = 0;
    m_a.forEachSubkey(a, [&](KeyId k) { level.a.push_back(k); });
    m_b.forEachSubkey(b, [&](KeyId k) { level.b.push_back(k); });
    if (level.a.size() != level.b.size())
      return Error{path() + ": " + std::to_string(level.a.size()) + " subkeys against " +
                   std::to_string(level.b.size())};
    return {};
  }

  std::string path() const {
    std::string text = m_path;
    for (const std::string_view name : m_names) {
      text += '\\';
      text += name;
    }
    return text;
  }

  const RegistryTree& m_a;
  const RegistryTree& m_b;
  const std::string& m_path;
  std::vector<std::string_view> m_names;
  std::vector<RegistryValue> m_valuesA, m_valuesB;
  std::deque<Level> m_levels;
};

}  // namespace

Result<void> compareTrees(const RegistryTree& treeA, KeyId a, const RegistryTree& treeB, KeyId b,
                          const std::string& path) {
  return TreeComparison(treeA, treeB, path).compare(a, b);
}

bool holdsTree(std::span<const std::uint8_t> bytes, const CheckedFile& file,
               const RegistryTree& tree, KeyId root) {
  std::vector<std::pair<std::uint32_t, KeyId>> pending{{0, root}};
  while (!pending.empty()) {
    const auto [e, key] = pending.back();
    pending.pop_back();
    const CheckedEntry& entry = file.entries[e];
    // The root entry has no record, and so no values.
    const CheckedBlock* block = e == 0 ? nullptr : &file.blocks[entry.block];
    const CheckedRecord* record = e == 0 ? nullptr : &block->records[entry.record];
    const std::size_t valueCount = record == nullptr ? 0 : record->values.size();
    std::size_t v = 0;
    bool same = true;
    tree.forEachValue(key, [&](const RegistryValue& value) {
      if (!same || v == valueCount) {
        same = false;
        return;
      }
      const CheckedValue& stored = record->values[v++];
      same = stored.type == value.type && valueName(bytes, *block, *record, stored) == value.name &&
             valueData(bytes, *block, *record, stored) == value.data;
    });
    if (!same || v != valueCount || tree.subkeyCount(key) != entry.children.size()) return false;
    std::size_t c = 0;
    tree.forEachSubkey(key, [&](KeyId child) {
      const std::uint32_t childEntry = entry.children[c++];
      const CheckedEntry& checked = file.entries[childEntry];
      const CheckedBlock& childBlock = file.blocks[checked.block];
      same = same &&
             recordName(bytes, childBlock, childBlock.records[checked.record]) == tree.name(child);
      pending.emplace_back(childEntry, child);
    });
    if (!same) return false;
  }
  return true;
}

}  // namespace creg
